#include "test_hooks.hpp"

#include <cstddef>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>

#include "guard.hpp"

namespace tarvok::python::test_hooks {
namespace {

// Keeps the compiler from eliding the doomed allocation.
std::byte* volatile allocation_sink = nullptr;

// A failure that carries no text at all.
struct Wordless {};

}  // namespace

void fault_point(std::string_view site)
{
    const char* requested = std::getenv("TARVOK_TEST_FAULT");
    if (requested == nullptr) {
        return;
    }
    std::string_view fault(requested);
    if (!fault.starts_with(site) || !fault.substr(site.size()).starts_with(':')) {
        return;
    }
    fault.remove_prefix(site.size() + 1);
    if (fault == "memory") {
        auto block = std::make_unique<std::byte[]>(std::numeric_limits<std::ptrdiff_t>::max() / 2);
        allocation_sink = block.get();
    } else if (fault == "panic") {
        throw InternalFailure("fault injected at " + std::string(site));
    } else if (fault == "wordless") {
        throw Wordless{};
    }
}

}  // namespace tarvok::python::test_hooks
