#pragma once

#include <QString>
#include <memory>
#include <optional>

#include "archive/archive_open.h"
#include "archive/sqlite_handle.h"
#include "archive/test_writes.h"

// The writer's hold on the archive: the connection, its statements and the shared hold on the
// file, made and let go together. It remembers a damaged file by its device and inode, not by
// its path: the file met damaged while written is moved aside on the next try when no other
// program has it open, and a different file found at the path since (another program healed
// it first) is opened as it is, so that one damage makes one file aside.
namespace archive::writer {

class WriterConnection {
  public:
    WriterConnection(QString path, int busyTimeoutMs)
        : m_path(std::move(path)), m_busyTimeoutMs(busyTimeoutMs) {}

    struct Opened {
        bool ready = false;
        bool permanent = false;   // it will never do (see OpenedArchive)
        bool movedAside = false;  // a damaged file was moved aside; `message` says where
        QString message;          // why not, or what was done
    };
    Opened open();
    bool isOpen() const { return m_writes != nullptr; }
    TestWrites& writes() { return *m_writes; }

    // A write failed: the file is remembered when it is damaged, then the hold is let go.
    // Returns the message for the operator.
    QString failed(const SqlError& error);
    void close();

  private:
    QString m_path;
    int m_busyTimeoutMs;
    OpenedArchive m_opened;
    std::unique_ptr<TestWrites> m_writes;
    std::optional<FileId> m_damaged;
};

}  // namespace archive::writer
