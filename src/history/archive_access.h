#pragma once

#include <QString>
#include <memory>
#include <optional>

#include "archive/archive_reader.h"

class QWidget;

// How the history windows reach the archive, and how they say when they cannot.

// A box with `text` and the exclamation mark, over `owner`.
void WarnOperator(QWidget* owner, const QString& text);

// The archive at `path` for reading; nothing, with the reason in `*message`, when there is
// none or it cannot be read.
std::unique_ptr<archive::ArchiveReader> OpenArchiveReader(const QString& path, QString* message);

// As OpenArchiveReader, the reason shown to the operator instead.
std::unique_ptr<archive::ArchiveReader> OpenArchiveReaderOrWarn(QWidget* owner,
                                                                const QString& path);

// Test `id` of the archive; nothing after a box that says why.
std::optional<archive::ArchivedTest> LoadTestOrWarn(QWidget* owner,
                                                    archive::ArchiveReader& reader, qint64 id);
