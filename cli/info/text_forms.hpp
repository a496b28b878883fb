#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// How names and numbers are written in each of the three outputs.
namespace info {

// tarvok::path_rules::lossy_text, and every control character (C0, DEL, C1) replaced by U+FFFD
// too, so that a name cannot move a terminal's cursor or change its colours.
std::string harmless_text(std::string_view text);

// A JSON string, quoted: lossy text with the quote, the backslash and every
// control character escaped.
void append_json_string(std::string& out, std::string_view text);

// Text for HTML element content or a quoted attribute: harmless_text with
// & < > " ' as references.
void append_html_text(std::string& out, std::string_view text);

// The shortest decimal text that reads back to the same double; only for
// finite values.
void append_number(std::string& out, double value);
void append_number(std::string& out, std::uint64_t value);

}  // namespace info
