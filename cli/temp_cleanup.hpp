#pragma once

#include <cstddef>
#include <string>

// Temporary outputs that SIGINT, SIGTERM and SIGHUP must not leave behind.
// The handler removes every registered file, then the process dies by the
// same signal.
namespace convert {

// Once, before any thread starts: room for `slots` files at once.
void install_temp_cleanup(std::size_t slots);

struct TempFile {
    int fd = -1;
    std::string path;
};

// Creates a hidden temporary file (mode 0600) beside `final_path` and
// registers it in `slot`, one slot per job; 0, or the errno of the failure.
int create_temp(std::size_t slot, const std::string& final_path, TempFile& created);

// The slot's file is renamed or removed: the handler leaves it alone.
void release_temp(std::size_t slot);

}  // namespace convert
