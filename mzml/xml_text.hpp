#pragma once

#include <string>
#include <string_view>

namespace mzml {

// Appends text fit for an attribute value or element content: the XML
// metacharacters as entities, tab, line feed and carriage return as
// character references (so attribute normalisation keeps them), and every
// invalid UTF-8 sequence (one per maximal subpart) and every character XML 1.0
// cannot carry at all as U+FFFD.
void append_xml_text(std::string& out, std::string_view text);

// An NCName (an xs:ID) for any text: every character other than an ASCII
// letter, digit, '-', '.' or '_' (each invalid UTF-8 subpart counting as one)
// becomes '_', and a '_' goes first when the result would not otherwise start
// with a letter or '_', the empty text included.
std::string ncname_from(std::string_view text);

}  // namespace mzml
