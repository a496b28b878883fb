#pragma once

#include <cstddef>
#include <string>

namespace hostile {

// Caps what the calling process may allocate from now on. Without
// AddressSanitizer the address space is limited, so a larger request fails
// at once; AddressSanitizer reserves terabytes of shadow memory and cannot
// run under such a limit, so there every allocation is counted instead and
// the peak judged afterwards.
void cap_heap(std::size_t bytes);

// Empty, or why the cap was broken (the counted peak under AddressSanitizer).
std::string heap_cap_verdict();

}  // namespace hostile
