#pragma once

#include <QString>

// The test's lock_key column, written once as the test starts: the key of its lock name (see
// test_lock_name.h) alone, or, for a test whose program could not make its lock file, the key,
// a line break and the program's process mark (see process_mark.h). A key is hex and never
// holds a line break, so the first one parts the two. The mark lives in this column rather than
// one of its own, so the archive keeps its version and benches still running an older program
// on the same folder go on archiving. An older program takes the whole column for the key and
// derives another name from it, which the program running the test holds too (see
// TestLock::holdNameAlso).
namespace archive {

struct LockKeyParts {
    QString key;   // the key of the test's lock name; empty for a test of an older program
    QString mark;  // the mark of the process running it without its lock file; empty when none
};

// The column for `key` and `mark`.
QString LockKeyColumn(const QString& key, const QString& mark);
// The key and the mark held in `column`.
LockKeyParts SplitLockKeyColumn(const QString& column);

}  // namespace archive
