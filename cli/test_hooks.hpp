#pragma once

#include <string_view>

namespace convert {

#ifdef TARVOK_TEST_HOOKS
// Whether the comma-separated list in the environment variable
// TARVOK_TEST_FAULT holds `fault`. Compiled into test builds only.
bool test_fault(std::string_view fault);
#else
constexpr bool test_fault(std::string_view) { return false; }
#endif

}  // namespace convert
