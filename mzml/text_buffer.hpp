#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>

namespace mzml {

// Text of one part of the document (a spectrum, the chromatogram), formatted
// apart from the document so that any thread can make it. Grows as needed and
// keeps its storage across clear(); storage not yet written is never touched,
// so it costs no resident memory.
class TextBuffer {
public:
    void put(std::string_view text);
    void put_base64(std::span<const std::byte> bytes);
    // At least n bytes to fill, then advance by what was filled.
    char* room(std::size_t n);
    void advance(std::size_t n) { used_ += n; }
    // Room for n more bytes at once, so that a large part grows the storage once.
    void reserve(std::size_t n);

    std::string_view text() const { return {bytes_.get(), used_}; }
    void clear() { used_ = 0; }

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
};

}  // namespace mzml
