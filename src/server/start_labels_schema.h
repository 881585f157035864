#pragma once

#include <string>

// The server's step to version 5: each test keeps the labels of its bench as they were when it
// started (the computer's name and the USB adapter's serial number; the port's device is in the
// test's header already), so a test started after the computer was renamed or the adapter
// swapped is shown under the names it ran under. The columns are nullable without a default:
// adding them rewrites no row, and the tests sent before keep none (readers show the bench
// row's labels for them). A bench role sets them only as it inserts a test of its own bench
// (the table's row-level security and grants, which allow no UPDATE), and a header sent again
// with other labels (a backlog sent from another computer of a shared archive) is no clash:
// the labels first sent stay.
namespace server {

// The version whose tests keep their labels.
constexpr int kStartLabelsVersion = 5;

std::string StartLabelsStep();

}  // namespace server
