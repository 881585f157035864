#include "test/port_list.h"

#include <QComboBox>

#include "link/serial_channel.h"

namespace {

// The device behind a port name, as far as it is set for this run.
QString deviceTip(int index) {
    const QString name = g_strComNames[static_cast<size_t>(index)];
    const QString device = qEnvironmentVariable(("KIVO_" + name).toLatin1().constData());
    return device.isEmpty() ? name : name + QStringLiteral(" → ") + device;
}

}  // namespace

void FillPortList(QComboBox* list) {
    list->clear();
    for (int i = 0; i < static_cast<int>(g_strComNames.size()); ++i) {
        list->addItem(g_strComNames[static_cast<size_t>(i)]);
        list->setItemData(i, deviceTip(i), Qt::ToolTipRole);
    }
    auto showTip = [list](int index) {
        list->setToolTip(index >= 0 ? deviceTip(index) : QString());
    };
    showTip(list->currentIndex());
    QObject::connect(list, &QComboBox::currentIndexChanged, list, showTip);
}
