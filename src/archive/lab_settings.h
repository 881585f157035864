#pragma once

#include <QString>
#include <QVariant>

// The lab's settings of this archive (the grading scheme of results, the lab server, ...), kept
// in an INI file beside the archive ("kivo.ini" beside "kivo.sqlite"), so that every copy of the
// program and every operator account on the same archive shares them.
namespace archive {

QString LabSettingsPath();

// The stored value of `key` ("group/name"), or `fallback` when none is stored.
QVariant ReadLabSetting(const QString& key, const QVariant& fallback = {});

// Stores `value` under `key`; false with a Chinese explanation in `error` when the file cannot
// be written (the old file is then left as it was).
bool WriteLabSetting(const QString& key, const QVariant& value, QString* error);

}  // namespace archive
