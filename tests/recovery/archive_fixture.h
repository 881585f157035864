#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>

#include "archive/archive_reader.h"
#include "archive/archive_writer.h"
#include "run/archive_session.h"

// A fresh archive file for one test, opened as the program's archive.
class FreshArchive {
  public:
    FreshArchive() {
        EXPECT_TRUE(m_dir.isValid());
        ArchiveSession::open(path());
    }
    ~FreshArchive() { ArchiveSession::close(); }

    QString path() const { return m_dir.filePath(QStringLiteral("kivo.sqlite")); }

    // Everything handed to the writer so far, on disk; then a reader of it.
    std::unique_ptr<archive::ArchiveReader> read() const {
        if (auto writer = ArchiveSession::writer()) {
            EXPECT_TRUE(writer->flush(30000));
        }
        QString message;
        auto reader = archive::ArchiveReader::open(path(), &message);
        EXPECT_TRUE(reader) << message.toStdString();
        return reader;
    }
    // The one test of the archive.
    archive::ArchivedTest onlyTest() const {
        auto reader = read();
        const auto tests = reader->listTests();
        EXPECT_EQ(tests.size(), 1u);
        if (tests.empty()) return {};
        return reader->loadTest(tests.front().id).value_or(archive::ArchivedTest{});
    }

  private:
    QTemporaryDir m_dir;
};

inline std::vector<archive::TestState> StatesOf(const archive::ArchivedTest& test) {
    std::vector<archive::TestState> states;
    for (const archive::StateChange& change : test.states) states.push_back(change.state);
    return states;
}
