#include "file_location.hpp"

#include <filesystem>
#include <system_error>

namespace mzml {
namespace {

bool unreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

std::string file_uri(const std::string& absolute_path)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const char ch : absolute_path) {
        const auto c = static_cast<unsigned char>(ch);
        if (unreserved(c) || c == '/') {
            uri += ch;
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

}  // namespace

std::expected<FileLocation, int> locate_file(const std::string& path)
{
    std::filesystem::path p(path);
    if (p.is_relative()) {
        std::error_code ec;
        const auto cwd = std::filesystem::current_path(ec);
        if (ec) {
            return std::unexpected(ec.value());
        }
        p = cwd / p;
    }
    p = p.lexically_normal();
    return FileLocation{p.filename().string(), file_uri(p.parent_path().string())};
}

}  // namespace mzml
