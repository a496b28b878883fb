#pragma once

#include <string_view>

namespace tarvok::python::test_hooks {

#ifdef TARVOK_TEST_HOOKS
// Injects the fault that the environment variable TARVOK_TEST_FAULT names for
// this site: "<site>:memory" makes an allocation that cannot succeed,
// "<site>:panic" fails internally with a message, "<site>:wordless" without
// one. Compiled into test builds only.
void fault_point(std::string_view site);
#else
inline void fault_point(std::string_view) noexcept {}
#endif

}  // namespace tarvok::python::test_hooks
