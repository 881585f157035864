#include "archive/lab_settings.h"

#include <QFileInfo>
#include <QSettings>

#include "archive/archive_location.h"

namespace archive {

QString LabSettingsPath() {
    const QFileInfo archive(ArchivePath());
    return archive.absolutePath() + QStringLiteral("/") + archive.completeBaseName() +
           QStringLiteral(".ini");
}

QVariant ReadLabSetting(const QString& key, const QVariant& fallback) {
    QSettings settings(LabSettingsPath(), QSettings::IniFormat);
    return settings.value(key, fallback);
}

bool WriteLabSetting(const QString& key, const QVariant& value, QString* error) {
    QSettings settings(LabSettingsPath(), QSettings::IniFormat);
    settings.setValue(key, value);
    settings.sync();
    if (settings.status() == QSettings::NoError) return true;
    if (error)
        *error = QStringLiteral("设置文件 %1 无法写入，请检查该文件夹是否可写。").arg(LabSettingsPath());
    return false;
}

}  // namespace archive
