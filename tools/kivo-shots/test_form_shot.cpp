#include "mid_test.h"
#include "monitor/testclass.h"
#include "shots.h"

QImage RenderTestForm() {
    SetShotTestParameters();
    NoInstrument noInstrument;
    QImage image;
    {
        Testclass form;
        form.OnInitialUpdate();
        form.resize(form.minimumSize());
        form.show();
        FillTwoHoursIn(form);
        Settle();
        image = form.grab().toImage();
        EndPretendedTest();
    }
    Settle();
    return image;
}
