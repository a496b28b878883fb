#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <map>
#include <new>
#include <thread>
#include <vector>

#include "command_line.hpp"
#include "convert_sample.hpp"
#include "progress.hpp"
#include "output_directory.hpp"
#include "tarvok/error.hpp"
#include "tarvok/path_rules.hpp"
#include "output_cleanup.hpp"
#include "thread_shares.hpp"

namespace {

using convert::Job;

std::size_t core_count()
{
    cpu_set_t cpus;
    if (::sched_getaffinity(0, sizeof cpus, &cpus) == 0) {
        return static_cast<std::size_t>(CPU_COUNT(&cpus));
    }
    return std::max(1U, std::thread::hardware_concurrency());
}

// The output-name rule: the sample's file name less its last extension, its
// bytes as they are, and ".mzML" (".mzML.gz" for gzip). The workflow applies
// the same rule.
std::string output_path_for(const std::string& output_dir, const std::string& wiff_path, bool gzip)
{
    const std::string name = tarvok::path_rules::file_stem_for(wiff_path) + (gzip ? ".mzML.gz" : ".mzML");
    return output_dir.ends_with('/') ? output_dir + name : output_dir + "/" + name;
}

// Every job, or the message that two samples would write one output.
std::expected<std::vector<Job>, std::string> plan_jobs(const convert::Options& options)
{
    std::vector<Job> jobs;
    std::map<std::string, std::string> writer_of;
    for (const std::string& sample : options.samples) {
        Job job{
            .wiff_path = sample,
            .output_path = options.output_dir == "-" ? "-" : output_path_for(options.output_dir, sample, options.gzip),
            .zlib = options.zlib,
            .salvage = options.salvage,
            .numpress = options.numpress,
            .gzip = options.gzip,
            .filter = options.filter,
        };
        const auto [first, fresh] = writer_of.emplace(job.output_path, sample);
        if (!fresh) {
            return std::unexpected(tarvok::path_rules::lossy_text(
                "tarvok-convert: " + first->second + " and " + sample + " would both write " + job.output_path));
        }
        jobs.push_back(std::move(job));
    }
    return jobs;
}

std::string summary_line(std::size_t converted, std::size_t failed, std::uint64_t scan_bytes, double seconds)
{
    char line[200];
    std::snprintf(line, sizeof line, "tarvok-convert: %zu converted, %zu failed, %.1f MB of scan data in %.2f s (%.1f MB/s)",
                  converted, failed, static_cast<double>(scan_bytes) / 1e6, seconds,
                  seconds > 0 ? static_cast<double>(scan_bytes) / 1e6 / seconds : 0.0);
    return line;
}

// An exception is the failure of its sample alone: the output is abandoned
// as on any other failure, and the other samples go on.
std::expected<convert::Converted, std::string> convert_guarded(const Job& job, std::size_t slot,
                                                               convert::ThreadShares& shares, std::size_t& threads,
                                                               convert::Progress& progress)
{
    const auto failure = [&](const std::string& text) {
        return std::unexpected("tarvok-convert: " + job.wiff_path + ": " + text);
    };
    try {
        return convert::convert_sample(job, slot, shares, threads, progress);
    } catch (const std::bad_alloc&) {
        return failure("out of memory");
    } catch (const std::exception& error) {
        return failure(std::string("internal error: ") + error.what());
    } catch (...) {
        return failure("internal error");
    }
}

int run(const convert::Options& options)
{
    auto jobs = plan_jobs(options);
    if (!jobs) {
        std::fprintf(stderr, "%s\n", jobs.error().c_str());
        return 2;
    }
    if (options.output_dir != "-") {
        if (const int error = convert::make_directories(options.output_dir); error != 0) {
            std::fprintf(stderr, "tarvok-convert: %s: %s\n",
                         tarvok::path_rules::lossy_text(options.output_dir).c_str(),
                         tarvok::Error::from_errno(error).display().c_str());
            return 1;
        }
    }

    const std::size_t threads = options.jobs == 0 ? core_count() : static_cast<std::size_t>(options.jobs);
    const std::size_t workers = std::min(threads, jobs->size());
    convert::install_output_cleanup(workers);
    convert::Progress progress(!options.quiet && ::isatty(STDERR_FILENO) == 1, workers);

    const auto started = std::chrono::steady_clock::now();
    convert::ThreadShares shares(threads, jobs->size());
    std::atomic<std::size_t> failed{0};
    std::atomic<std::uint64_t> scan_bytes{0};
    const auto work = [&](std::size_t slot) {
        while (const auto start = shares.next()) {
            std::size_t threads_held = start->threads;
            const auto converted = convert_guarded((*jobs)[start->sample], slot, shares, threads_held, progress);
            shares.give_back(threads_held);
            if (converted) {
                scan_bytes += converted->scan_bytes;
            } else {
                ++failed;
                progress.message(converted.error());
            }
        }
    };
    std::vector<std::thread> slot_threads;
    for (std::size_t slot = 1; slot < workers; ++slot) {
        slot_threads.emplace_back(work, slot);
    }
    work(0);
    for (std::thread& thread : slot_threads) {
        thread.join();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    progress.summary(summary_line(jobs->size() - failed, failed, scan_bytes, seconds));
    return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const auto parsed = convert::parse_command_line(argc, argv);
    if (const auto* finished = std::get_if<convert::Finished>(&parsed)) {
        return tarvok_cli::print(*finished);
    }
    return run(std::get<convert::Options>(parsed));
}
