// The copy of the program that a test of this folder runs in a child process. It skips unless
// a parent started this program for it (KIVO_ARCHIVE_CHILD names how it ends).

#include "program_on_archive.h"

TEST_F(ProgramOnArchive, ChildOperator) {
    if (ArchiveTesting::ChildRole().isEmpty()) GTEST_SKIP() << "run by the tests of this folder";
    runAsChild();
}
