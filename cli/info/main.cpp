#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>

#include "command_line.hpp"
#include "html_report.hpp"
#include "json_report.hpp"
#include "sample_summary.hpp"
#include "tarvok/path_rules.hpp"
#include "text_forms.hpp"
#include "text_report.hpp"
#include "unique_fd.hpp"
#include "write_all.hpp"

namespace {

void fail(const std::string& path, const std::string& text)
{
    // The reader's text may quote the path's bytes too.
    std::fprintf(stderr, "tarvok-info: %s: %s\n", tarvok::path_rules::lossy_text(path).c_str(),
                 tarvok::path_rules::lossy_text(text).c_str());
}

std::string os_text(int os_error)
{
    return tarvok::Error::from_errno(os_error).display();
}

// Where each sample's report goes, or the message that two would share one.
std::expected<std::vector<std::string>, std::string> report_paths(const info::Options& options)
{
    std::vector<std::string> paths;
    if (!options.html) {
        return paths;
    }
    if (options.samples.size() == 1) {
        paths.push_back(*options.html);
        return paths;
    }
    const std::string& directory = *options.html;
    std::map<std::string, std::string> writer_of;
    for (const std::string& sample : options.samples) {
        // The converter's rule: the stem's bytes as they are.
        const std::string name = tarvok::path_rules::file_stem_for(sample) + ".html";
        std::string path = directory.ends_with('/') ? directory + name : directory + "/" + name;
        const auto [first, fresh] = writer_of.emplace(path, sample);
        if (!fresh) {
            using tarvok::path_rules::lossy_text;
            return std::unexpected("tarvok-info: " + lossy_text(first->second) + " and " + lossy_text(sample) +
                                   " would both write " + lossy_text(path));
        }
        paths.push_back(std::move(path));
    }
    return paths;
}

// The errno of the first failure, 0 when the whole text is in the file.
int write_file(const std::string& path, const std::string& text)
{
    tarvok::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd) {
        return errno;
    }
    const std::expected<void, int> written = tarvok::write_all(fd.get(), text);
    const std::expected<void, int> closed = fd.close();
    const int error = !written ? written.error() : !closed ? closed.error() : 0;
    if (error != 0) {
        ::unlink(path.c_str());
    }
    return error;
}

// Each sample's lines go out as soon as it is read; the first failure to
// write them is kept for the end.
void flush_stdout(int& first_error)
{
    if (std::fflush(stdout) != 0 && first_error == 0) {
        first_error = errno != 0 ? errno : EIO;
    }
}

int run(const info::Options& options)
{
    const auto reports = report_paths(options);
    if (!reports) {
        std::fprintf(stderr, "%s\n", reports.error().c_str());
        return 2;
    }
    if (options.html && options.samples.size() > 1 && ::mkdir(options.html->c_str(), 0777) != 0 && errno != EEXIST) {
        fail(*options.html, os_text(errno));
        return 1;
    }

    bool failed = false;
    int stdout_error = 0;
    std::size_t shown = 0;
    for (std::size_t i = 0; i < options.samples.size(); ++i) {
        const std::string& path = options.samples[i];
        std::optional<info::SamplePlots> plots;
        const auto summary = info::summarize(path, options.html ? &plots : nullptr);
        if (!summary) {
            fail(path, summary.error().display());
            failed = true;
            continue;
        }
        if (options.json) {
            std::fputs(shown == 0 ? "[\n" : ",\n", stdout);
            std::fputs(info::json_object(*summary).c_str(), stdout);
        } else {
            std::fputs(shown == 0 ? "" : "\n", stdout);
            std::fputs(info::text_block(*summary).c_str(), stdout);
        }
        flush_stdout(stdout_error);
        ++shown;
        if (options.html) {
            if (const int error = write_file((*reports)[i], info::html_report(*summary, *plots)); error != 0) {
                fail((*reports)[i], os_text(error));
                failed = true;
            }
        }
    }
    if (options.json) {
        std::fputs(shown == 0 ? "[]\n" : "\n]\n", stdout);
    }
    flush_stdout(stdout_error);
    if (stdout_error != 0) {
        fail("<stdout>", os_text(stdout_error));
        return 1;
    }
    return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const auto parsed = info::parse_command_line(argc, argv);
    if (const auto* finished = std::get_if<info::Finished>(&parsed)) {
        return tarvok_cli::print(*finished);
    }
    return run(std::get<info::Options>(parsed));
}
