#pragma once

#include <cstddef>
#include <expected>
#include <string>

#include "unique_fd.hpp"

namespace convert {

// An output that appears under its name complete and durable, or not at
// all. It is written unnamed (O_TMPFILE) in the output directory, so that
// nothing is left even after SIGKILL; where the file system refuses that, to
// a hidden ".<name>.XXXXXX" beside it that a signal removes. Needs
// install_output_cleanup.
class AtomicOutput {
public:
    // Errors are errno values.
    static std::expected<AtomicOutput, int> create(std::size_t slot, const std::string& final_path);

    AtomicOutput(AtomicOutput&& other) noexcept;
    AtomicOutput& operator=(AtomicOutput&&) = delete;
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;
    // Abandons the output unless committed: the file is removed, an existing
    // output of that name stays.
    ~AtomicOutput();

    int fd() const { return file_.get(); }

    // Gives the file the usual mode (0666 less the umask), syncs it, names it
    // (replacing an existing output in one step) and syncs the directory.
    std::expected<void, int> commit();

private:
    AtomicOutput(std::size_t slot, std::string final_path, tarvok::UniqueFd directory);
    std::expected<void, int> link_unnamed();

    std::size_t slot_;
    std::string final_path_;
    tarvok::UniqueFd directory_;
    tarvok::UniqueFd file_;
    std::string hidden_path_;  // the hidden name on disk, if any; armed in the slot
    bool committed_ = false;
};

}  // namespace convert
