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
    // the size the container states, if that is no more than its file holds,
    // so it is not copied as it grows.
    std::expected<std::vector<std::uint8_t>, Error> read_all();

private:
    friend class Container;
    Stream(GObjectPtr input, std::uint64_t file_size) : input_(std::move(input)), file_size_(file_size) {}

    GObjectPtr input_;
    std::uint64_t file_size_;
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
    Container(GObjectPtr infile, std::uint64_t file_size, bool damage_reported)
        : infile_(std::move(infile)), file_size_(file_size), damage_reported_(damage_reported)
    {
    }

    GObjectPtr infile_;
    std::uint64_t file_size_;  // what a stream's stated size is checked against
    // Whether the library worked around damage while reading the directory.
    bool damage_reported_;
};

}  // namespace tarvok::cfb
