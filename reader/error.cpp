#include "tarvok/error.hpp"

#include <cstring>

namespace tarvok {

Error Error::from_errno(int os_error)
{
    // strerror_r's GNU form may return a static string instead of filling buf.
    char buf[256] = {};
    const char* description = strerror_r(os_error, buf, sizeof buf);
    return Error(Io{os_error, std::string(description) + " (os error " + std::to_string(os_error) + ")"});
}

Error Error::io(std::string text)
{
    return Error(Io{0, std::move(text)});
}

Error Error::parse(std::string message)
{
    return Error(Parse{std::move(message)});
}

std::string Error::display() const
{
    if (const auto* io = std::get_if<Io>(&payload_)) {
        return "I/O error: " + io->text;
    }
    return "parse error: " + std::get<Parse>(payload_).message;
}

}  // namespace tarvok
