#include "run/temperature_watch.h"

#include <QRegularExpression>
#include <memory>

#include "monitor/form_link.h"
#include "monitor/testclass.h"
#include "run/run_audit.h"
#include "state/test_state.h"

std::optional<double> TemperatureCelsius(const QString& text) {
    // Digits with at most one point, as the instrument sends them; no exponent, no "inf".
    static const QRegularExpression kDecimal(QStringLiteral("^-?(\\d+\\.?\\d*|\\.\\d+)$"));
    if (!kDecimal.match(text).hasMatch()) return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

bool OverheatCount::reading(const QString& text) {
    const std::optional<double> celsius = TemperatureCelsius(text);
    if (!celsius || *celsius < kLimitCelsius) {
        m_hot = 0;
        return false;
    }
    if (++m_hot < kReadingsInARow) return false;
    m_hot = 0;
    return true;
}

void WatchTemperature(Testclass& form) {
    // Shared, so the copy of the watcher that runs counts in the same place.
    auto count = std::make_shared<OverheatCount>();
    form.link()->m_temperatureShown = [count](Testclass& shown, const QString& text) {
        if (g_bTesting == 0) {
            *count = OverheatCount();  // a pause of any kind breaks the run
            return;
        }
        if (!count->reading(text)) return;
        // The reading goes with the pause, so the test report can say what was read.
        RunAudit::record(QStringLiteral("paused_temperature"), {},
                         QStringLiteral("暂停（温度超限）：试件温度 %1 ℃").arg(text.trimmed()));
        shown.StopTest();
        shown.link()->message(QStringLiteral("试件温度已达到90℃，实验已暂停！"));
    };
}
