#include "report.hpp"

#include <sanitizer/common_interface_defs.h>

#include <cstdlib>

namespace fuzz {

void fail(const std::string& finding)
{
    // fd 2 may be trapped (stderr_trap.hpp); the sanitizers' report channel
    // is always the visible one.
    __sanitizer_report_error_summary(("FINDING: " + finding).c_str());
    std::abort();
}

}  // namespace fuzz
