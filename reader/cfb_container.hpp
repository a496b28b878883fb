#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tarvok/error.hpp"
#include "unique_fd.hpp"

// The one place that knows the container library. Everything it hands out
// owns its library object and releases it with its own lifetime.
namespace tarvok::cfb {

struct GObjectRelease {
    void operator()(void* object) const;
};
using GObjectPtr = std::unique_ptr<void, GObjectRelease>;

class Stream {
public:
    // The stream from its start to its end. Its storage is taken at once for
    // the size the container states, if that is no more than `most` (what the
    // container's file can hold), so it is not copied as it grows.
    std::expected<std::vector<std::uint8_t>, Error> read_all(std::uint64_t most);

private:
    friend class Container;
    explicit Stream(GObjectPtr input) : input_(std::move(input)) {}

    GObjectPtr input_;
};

class Container {
public:
    // Takes the descriptor over; it is closed when the container is released,
    // or at once if the container cannot be opened.
    static std::expected<Container, Error> open(UniqueFd fd, const std::string& name);

    // `path` is '/'-separated from the root storage; names compare as the
    // container format prescribes, without regard to letter case. A stream
    // that is not there is a Parse error "Stream '…' not found: reason"; one
    // the directory lists but whose data or entry is damaged, an Io error.
    std::expected<Stream, Error> open_stream(std::string_view path) const;

private:
    Container(GObjectPtr infile, bool damage_reported)
        : infile_(std::move(infile)), damage_reported_(damage_reported)
    {
    }

    GObjectPtr infile_;
    // Whether the library worked around damage while reading the directory.
    bool damage_reported_;
};

}  // namespace tarvok::cfb
