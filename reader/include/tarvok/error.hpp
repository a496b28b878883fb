#pragma once

#include <string>
#include <variant>

#include "tarvok/export.hpp"

namespace tarvok {

// The reader library's error: an I/O failure from the operating system or the
// container reader, or a malformed sample.
class TARVOK_API Error {
public:
    struct Io {
        int os_error = 0;  // errno, or 0 when the container reader raised it
        std::string text;  // the I/O error's own text
    };
    struct Parse {
        std::string message;
    };

    static Error from_errno(int os_error);
    static Error io(std::string text);
    static Error parse(std::string message);

    bool is_io() const { return std::holds_alternative<Io>(payload_); }
    bool is_parse() const { return std::holds_alternative<Parse>(payload_); }
    const std::variant<Io, Parse>& payload() const { return payload_; }

    // "I/O error: {}" or "parse error: {}": the only rendering of an error.
    std::string display() const;

private:
    explicit Error(std::variant<Io, Parse> payload) : payload_(std::move(payload)) {}

    std::variant<Io, Parse> payload_;
};

}  // namespace tarvok
