#pragma once

#include <string>

namespace fuzz {

// Prints the finding where the sanitizers print theirs, then aborts so that
// libFuzzer keeps the input as a crash.
[[noreturn]] void fail(const std::string& finding);

}  // namespace fuzz
