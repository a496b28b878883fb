#pragma once

#include <cstddef>
#include <functional>
#include <string>

// The named files that SIGINT, SIGTERM and SIGHUP must not leave behind: the
// handler removes each, then the process dies by the same signal. A signal
// its parent set to be ignored stays ignored (nohup). SIGPIPE and SIGXFSZ are
// ignored, so that a closed pipe or a file-size limit fails the write that
// met it (EPIPE, EFBIG) and the cleanup runs.
namespace convert {

// Once, before any thread starts: room for `slots` named files at once.
void install_output_cleanup(std::size_t slots);

// Creates a named file in `slot`: `create` gets the slot's path buffer
// holding `pattern`, may rewrite the name in place (mkostemp), and returns 0
// or an errno. The name is removed by a signal from then until
// release_named. Signals are held off in this thread while it runs, and a
// handler running on another thread waits for it, so that no file can be
// made after the handler has looked; once a handler has run, nothing more is
// created (ECANCELED).
int create_named(std::size_t slot, const std::string& pattern, const std::function<int(char* path)>& create);

// The slot's file was renamed or removed: the handler leaves it alone.
void release_named(std::size_t slot);

}  // namespace convert
