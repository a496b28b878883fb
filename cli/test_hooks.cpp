#include "test_hooks.hpp"

#include <cstdlib>

namespace convert {

bool test_fault(std::string_view fault)
{
    const char* requested = std::getenv("TARVOK_TEST_FAULT");
    for (std::string_view list = requested == nullptr ? "" : requested; !list.empty();) {
        const std::size_t comma = list.find(',');
        if (list.substr(0, comma) == fault) {
            return true;
        }
        list = comma == std::string_view::npos ? "" : list.substr(comma + 1);
    }
    return false;
}

}  // namespace convert
