#include "archive/writer_connection.h"

#include "archive/archive_messages.h"

namespace archive::writer {

WriterConnection::Opened WriterConnection::open() {
    close();
    m_opened = OpenArchive(m_path, m_busyTimeoutMs, kArchiveVersion, Damage::MoveAside, m_damaged);
    Opened result;
    result.message = m_opened.message;
    if (!m_opened.db) {
        m_damaged = m_opened.damaged;
        result.permanent = m_opened.permanent;
        close();
        return result;
    }
    m_damaged.reset();
    try {
        m_writes = std::make_unique<TestWrites>(*m_opened.db);
    } catch (const SqlError& error) {
        result.message = failed(error);
        return result;
    }
    result.ready = true;
    result.movedAside = m_opened.movedAside;
    return result;
}

QString WriterConnection::failed(const SqlError& error) {
    // Still held: no other program can have put another file at the path meanwhile.
    if (error.primary() == SQLITE_CORRUPT || error.primary() == SQLITE_NOTADB)
        m_damaged = IdentifyFile(m_path);
    close();
    return CannotWriteText(m_path, CauseText(error, m_path, m_busyTimeoutMs));
}

// The statements, then the connection, then the hold on the file.
void WriterConnection::close() {
    m_writes.reset();
    m_opened.db.reset();
    m_opened = OpenedArchive();
}

}  // namespace archive::writer
