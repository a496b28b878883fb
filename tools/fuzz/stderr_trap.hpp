#pragma once

namespace fuzz {

// Fails the input during which anything was written to stderr: the library
// must stay silent even on damaged files.
//
// It works only when libFuzzer runs with -close_fd_mask=2, which moves
// libFuzzer's own output and the sanitizers' reports to a duplicate of the
// original stderr and points fd 2 at /dev/null. The trap then points fd 2 at
// a memory file. Without that flag fd 2 is the terminal and is left alone.
class StderrTrap {
public:
    StderrTrap();
    StderrTrap(const StderrTrap&) = delete;
    StderrTrap& operator=(const StderrTrap&) = delete;
    ~StderrTrap();

    void check() const;

private:
    int memory_file_ = -1;
};

}  // namespace fuzz
