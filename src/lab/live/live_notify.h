#pragma once

#include <string>

namespace lab {

// The channel the live page listens on; each notification's payload is
// "<bench id> <test uid>" of a test that received polls.
inline constexpr const char* kLiveChannel = "kivo_live";

// The SQL that makes the polls table notify kLiveChannel (an AFTER INSERT trigger, one
// notification per test and statement). Idempotent; run it with the tables' owner. It leaves
// the benches' schema and its version as they are.
std::string LiveNotifySql();

}  // namespace lab
