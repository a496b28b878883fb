#include "tarvok/reader.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <mutex>

#include "cfb_container.hpp"
#include "tarvok/path_rules.hpp"
#include "tarvok/raw/layout.hpp"
#include "unique_fd.hpp"

namespace tarvok {
namespace {

using raw::layout::index_stream_path;

// A NUL would silently cut the path handed to the system to another path.
bool status_of(const std::string& path, struct stat& status, int& os_error)
{
    if (path.find('\0') != std::string::npos) {
        os_error = EINVAL;
        return false;
    }
    if (::stat(path.c_str(), &status) != 0) {
        os_error = errno;
        return false;
    }
    return true;
}

// The container library sets its object types up on first use without a
// lock, so containers are opened, read and released one at a time.
std::mutex container_use;

std::expected<std::vector<std::uint8_t>, Error> read_index_stream(UniqueFd fd, const std::string& wiff_path)
{
    const std::lock_guard lock(container_use);
    std::expected<cfb::Container, Error> container = cfb::Container::open(std::move(fd), wiff_path);
    if (!container) {
        return std::unexpected(std::move(container.error()));
    }
    std::expected<cfb::Stream, Error> stream = container->open_stream(index_stream_path);
    if (!stream) {
        return std::unexpected(std::move(stream.error()));
    }
    return stream->read_all();
}

}  // namespace

std::expected<Reader, Error> Reader::open(std::string_view path)
{
    const std::string wiff_path(path);
    std::string scan_path = path_rules::scan_path_for(path);

    struct stat status {};
    int os_error = 0;
    if (!status_of(scan_path, status, os_error)) {
        return std::unexpected(Error::parse(".wiff.scan file not found: " + scan_path));
    }
    if (!status_of(scan_path, status, os_error)) {
        return std::unexpected(Error::from_errno(os_error));
    }
    const auto scan_file_len = static_cast<std::uint64_t>(status.st_size);

    UniqueFd fd = open_read_only(wiff_path, os_error);
    if (!fd) {
        return std::unexpected(Error::from_errno(os_error));
    }
    std::expected<std::vector<std::uint8_t>, Error> bytes = read_index_stream(std::move(fd), wiff_path);
    if (!bytes) {
        return std::unexpected(std::move(bytes.error()));
    }
    std::expected<std::vector<raw::IdxRecord>, Error> records = raw::IdxRecord::parse_stream(*bytes);
    if (!records) {
        return std::unexpected(std::move(records.error()));
    }

    Reader reader;
    reader.sample_name = path_rules::sample_name_for(path);
    reader.scan_path = std::move(scan_path);
    reader.records = std::move(*records);
    reader.scan_file_len = scan_file_len;
    return reader;
}

}  // namespace tarvok
