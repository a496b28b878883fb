#include "cfb_container.hpp"

#include "cfb_header.hpp"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-input.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace tarvok::cfb {
namespace {

constexpr std::size_t read_chunk = 64 * 1024;

// The library copies a file that is not regular into memory until it ends,
// and a device such as /dev/zero never does: such files are read this far.
constexpr std::size_t special_file_limit = 64U * 1024U * 1024U;

constexpr auto all_levels =
    static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);

// The library reports damage that it works around (a chain longer than its
// stream, a directory entry it skips) only on GLib's log, on the thread it
// works on. The reader has no output of its own, so every message is
// dropped; while the library works for us they are also counted, so that a
// lookup or read that then fails is known to have met damage.
thread_local std::size_t* library_reports = nullptr;

void count_log_message(const gchar*, GLogLevelFlags, const gchar*, gpointer)
{
    if (library_reports != nullptr) {
        ++*library_reports;
    }
}

// The library's own domains, silenced for the whole process from the first
// open on: nothing else logs under them.
void silence_library_log()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // The container code logs under its own sub-domain.
        for (const char* domain : {"libgsf", "libgsf:msole"}) {
            g_log_set_handler(domain, all_levels, count_log_message, nullptr);
        }
    });
}

// A few of the library's warnings carry no domain. Messages without a domain
// may belong to the host program too, so they are dropped only while the
// library works for us, and the host's handler is back once we return.
class LibraryWork {
public:
    LibraryWork()
        : handler_(g_log_set_handler(nullptr, all_levels, count_log_message, nullptr)),
          outer_(std::exchange(library_reports, &reports_))
    {
    }
    LibraryWork(const LibraryWork&) = delete;
    LibraryWork& operator=(const LibraryWork&) = delete;
    ~LibraryWork()
    {
        library_reports = outer_;
        g_log_remove_handler(nullptr, handler_);
    }

    bool damage_reported() const { return reports_ != 0; }

private:
    guint handler_;
    std::size_t reports_ = 0;
    std::size_t* outer_;
};

struct GErrorRelease {
    void operator()(GError* error) const { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorRelease>;

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string error_text(const GError* error, std::string_view fallback)
{
    if (error != nullptr && error->message != nullptr && error->message[0] != '\0') {
        return error->message;
    }
    return std::string(fallback);
}

// Element names compare code point by code point after the simple,
// locale-free upper-case mapping; a full case folding (ß → SS) would not.
bool same_element_name(std::string_view stored, std::string_view wanted)
{
    const gchar* a = stored.data();
    const gchar* a_end = a + stored.size();
    const gchar* b = wanted.data();
    const gchar* b_end = b + wanted.size();
    while (a < a_end && b < b_end) {
        const gunichar ca = g_utf8_get_char_validated(a, a_end - a);
        const gunichar cb = g_utf8_get_char_validated(b, b_end - b);
        if (ca == static_cast<gunichar>(-1) || ca == static_cast<gunichar>(-2) ||
            cb == static_cast<gunichar>(-1) || cb == static_cast<gunichar>(-2)) {
            return false;
        }
        if (g_unichar_toupper(ca) != g_unichar_toupper(cb)) {
            return false;
        }
        a = g_utf8_next_char(a);
        b = g_utf8_next_char(b);
    }
    return a == a_end && b == b_end;
}

// Built by appending: g++ 12 warns falsely (-Wrestrict) on "literal" + string.
std::string quoted(std::string_view text)
{
    std::string result;
    result.reserve(text.size() + 2);
    result.push_back('\'');
    result.append(text);
    result.push_back('\'');
    return result;
}

std::string storage_label(std::string_view walked)
{
    return walked.empty() ? std::string("the root storage") : "storage " + quoted(walked);
}

Error damaged_chain()
{
    return Error::io("the stream's data cannot be read: its sector chain is damaged or the file is short");
}

}  // namespace

void GObjectRelease::operator()(void* object) const
{
    g_object_unref(object);
}

namespace {

std::expected<GObjectPtr, Error> special_file_input(const UniqueFd& fd)
{
    std::vector<std::uint8_t> bytes;
    while (bytes.size() < special_file_limit) {
        const std::size_t filled = bytes.size();
        bytes.resize(std::min(filled + read_chunk, special_file_limit));
        const ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0 && errno == EINTR) {
            bytes.resize(filled);
            continue;
        }
        // Nothing more to come without waiting: a FIFO whose writer is idle.
        if (got < 0 && errno == EAGAIN) {
            bytes.resize(filled);
            break;
        }
        if (got < 0) {
            return std::unexpected(Error::from_errno(errno));
        }
        bytes.resize(filled + static_cast<std::size_t>(got));
        if (got == 0) {
            break;
        }
    }
    GObjectPtr input(gsf_input_memory_new_clone(bytes.data(), bytes.size()));
    if (!input) {
        return std::unexpected(Error::io("the file cannot be read as a container"));
    }
    return input;
}

std::expected<GObjectPtr, Error> regular_file_input(UniqueFd fd, const std::string& name)
{
    std::FILE* raw_file = ::fdopen(fd.get(), "rb");
    if (raw_file == nullptr) {
        return std::unexpected(Error::from_errno(errno));
    }
    fd.release();
    std::unique_ptr<std::FILE, FileClose> file(raw_file);

    // The input closes the FILE when it is released.
    GObjectPtr input(gsf_input_stdio_new_FILE(name.c_str(), file.get(), FALSE));
    if (!input) {
        return std::unexpected(Error::io("the file cannot be read as a container"));
    }
    file.release();
    return input;
}

// A file too short for a header is left to the library, which says so.
std::expected<void, Error> check_header(GsfInput* input)
{
    std::array<std::uint8_t, header_size> header{};
    if (gsf_input_size(input) < static_cast<gsf_off_t>(header.size())) {
        return {};
    }
    if (gsf_input_read(input, header.size(), header.data()) == nullptr || gsf_input_seek(input, 0, G_SEEK_SET)) {
        return std::unexpected(Error::io("the file cannot be read as a container"));
    }
    if (std::optional<std::string> violation = header_violation(header)) {
        return std::unexpected(Error::io(std::move(*violation)));
    }
    return {};
}

}  // namespace

std::expected<Container, Error> Container::open(UniqueFd fd, const std::string& name)
{
    silence_library_log();
    const LibraryWork work;
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        return std::unexpected(Error::from_errno(errno));
    }
    if (S_ISDIR(status.st_mode)) {
        return std::unexpected(Error::from_errno(EISDIR));
    }
    std::expected<GObjectPtr, Error> input =
        S_ISREG(status.st_mode) ? regular_file_input(std::move(fd), name) : special_file_input(fd);
    if (!input) {
        return std::unexpected(std::move(input.error()));
    }
    if (std::expected<void, Error> header = check_header(static_cast<GsfInput*>(input->get())); !header) {
        return std::unexpected(std::move(header.error()));
    }

    const auto file_size = static_cast<std::uint64_t>(gsf_input_size(static_cast<GsfInput*>(input->get())));
    GError* raw_error = nullptr;
    GsfInfile* infile = gsf_infile_msole_new(static_cast<GsfInput*>(input->get()), &raw_error);
    GErrorPtr error(raw_error);
    if (infile == nullptr) {
        return std::unexpected(Error::io(error_text(error.get(), "not a compound file container")));
    }
    return Container(GObjectPtr(infile), file_size, work.damage_reported());
}

std::expected<Stream, Error> Container::open_stream(std::string_view path) const
{
    const LibraryWork work;
    // The library leaves out a directory entry that it finds damaged, so
    // after damage an element that seems missing may not be.
    const auto not_found = [&](const std::string& reason) {
        if (damage_reported_ || work.damage_reported()) {
            return std::unexpected(Error::io("the container's directory is damaged: " + reason));
        }
        return std::unexpected(Error::parse("Stream " + quoted(path) + " not found: " + reason));
    };
    GObjectPtr current(g_object_ref(infile_.get()));
    std::string_view walked;
    std::string_view rest = path;
    while (true) {
        const std::size_t separator = rest.find('/');
        const std::string_view element = rest.substr(0, separator);
        if (element.empty()) {
            return not_found("empty element name in " + quoted(path));
        }
        auto* storage = static_cast<GsfInfile*>(current.get());
        const int count = gsf_infile_num_children(storage);
        if (count < 0) {
            return not_found(quoted(walked) + " is a stream, not a storage");
        }
        int found = -1;
        for (int i = 0; i < count && found < 0; ++i) {
            const char* name = gsf_infile_name_by_index(storage, i);
            if (name != nullptr && same_element_name(name, element)) {
                found = i;
            }
        }
        if (found < 0) {
            return not_found("no element " + quoted(element) + " in " + storage_label(walked));
        }
        GObjectPtr child(gsf_infile_child_by_index(storage, found));
        if (!child) {
            return std::unexpected(damaged_chain());
        }
        walked = path.substr(0, walked.size() + (walked.empty() ? 0 : 1) + element.size());
        current = std::move(child);
        if (separator == std::string_view::npos) {
            break;
        }
        rest = rest.substr(separator + 1);
    }
    if (!GSF_IS_INFILE(current.get()) || gsf_infile_num_children(static_cast<GsfInfile*>(current.get())) >= 0) {
        return not_found(quoted(path) + " is a storage, not a stream");
    }
    // Opening the stream read its chain: damage there is damage to its data.
    if (work.damage_reported()) {
        return std::unexpected(damaged_chain());
    }
    return Stream(std::move(current), file_size_);
}

std::expected<std::vector<std::uint8_t>, Error> Stream::read_all()
{
    const LibraryWork work;
    auto* input = static_cast<GsfInput*>(input_.get());
    std::vector<std::uint8_t> bytes;
    // The stated size comes from the file; beyond what the file holds it is
    // damaged, and the buffer grows only with bytes actually delivered, so a
    // damaged size cannot reserve gigabytes.
    if (const gsf_off_t stated = gsf_input_size(input); stated > 0 && static_cast<std::uint64_t>(stated) <= file_size_) {
        bytes.reserve(static_cast<std::size_t>(stated));
    }
    while (true) {
        const gsf_off_t left = gsf_input_remaining(input);
        if (left <= 0) {
            break;
        }
        const std::size_t chunk = static_cast<std::size_t>(std::min<gsf_off_t>(left, read_chunk));
        const std::size_t filled = bytes.size();
        bytes.resize(filled + chunk);
        if (gsf_input_read(input, chunk, bytes.data() + filled) == nullptr) {
            return std::unexpected(damaged_chain());
        }
    }
    if (work.damage_reported()) {
        return std::unexpected(damaged_chain());
    }
    return bytes;
}

}  // namespace tarvok::cfb
