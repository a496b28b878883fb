#include "command_line.hpp"

#include <CLI/CLI.hpp>

namespace convert {

std::variant<Options, Finished> parse_command_line(int argc, char** argv)
{
    Options options;
    CLI::App app("Converts WIFF samples to indexed mzML 1.1.", "tarvok-convert");
    app.set_version_flag("--version", std::string("tarvok-convert ") + TARVOK_VERSION);
    app.add_option("SAMPLE", options.samples, "WIFF files to convert (each with its .wiff.scan beside it)")
        ->required()
        ->type_name("SAMPLE.wiff");
    app.add_option("-o,--output-dir", options.output_dir,
                   "Directory for <sample name>.mzML (default: the current directory); - writes the one "
                   "sample to standard output")
        ->type_name("DIR");
    app.add_flag("--zlib", options.zlib, "Compress the binary arrays with zlib");
    app.add_flag("--numpress", options.numpress,
                 "Code m/z and intensity arrays with MS-Numpress, where every value reads back exactly");
    app.add_flag("--gzip", options.gzip, "Write <sample name>.mzML.gz, the whole document gzip-compressed");
    std::string ms_levels;
    std::string scan_range;
    std::string rt_range;
    app.add_option("--ms-level", ms_levels, "Write only spectra of these MS levels, e.g. 1, 2- or 1,3-4")
        ->type_name("LIST");
    app.add_option("--scan-range", scan_range, "Write only spectra of scan numbers A to B (A- or -B: open)")
        ->type_name("A-B");
    app.add_option("--rt-range", rt_range, "Write only spectra of retention times A to B seconds (A- or -B: open)")
        ->type_name("A-B");
    app.add_option("-j,--jobs", options.jobs,
                   "Use N threads in all (default: the cores it may run on): up to N samples at once, each "
                   "starting with the free threads divided by the samples yet to start, itself included (at "
                   "least 1), for its spectra, and taking those of samples that finish once all have started")
        ->type_name("N");
    app.add_flag("-q,--quiet", options.quiet, "Show no progress and no summary");
    app.add_flag("--salvage", options.salvage,
                 "Convert a sample with damaged scan blocks as far as they decode, with a warning per block");

    app.footer(R"(Examples, with size and CPU time for a 20,000-scan sample of 67.9 MB of scan data
(398.9 MB and 0.6 s without options):
  tarvok-convert --zlib -o out run1.wiff                 176.6 MB, 1.7 s
  tarvok-convert --numpress -o out run1.wiff             138.5 MB, 1.3 s
  tarvok-convert --numpress --zlib -o out run1.wiff      134.8 MB, 1.8 s
  tarvok-convert --gzip -o out run1.wiff                 139.1 MB, 2.3 s: out/run1.mzML.gz
  tarvok-convert --ms-level 1 -o out run1.wiff           120.7 MB, 0.2 s: 1,819 of 20,000 spectra
  tarvok-convert --scan-range 100-500 -o out run1.wiff   7.8 MB, 0.05 s
  tarvok-convert --rt-range 0-1200 -o out run1.wiff      132.5 MB, 0.2 s: the first 20 minutes
pymzml 2.5.2 cannot read MS-Numpress arrays; OpenMS can.)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return tarvok_cli::from_parse_error(app, error);
    }
    const auto refused = [](std::string_view option, const std::string& reason) {
        return Finished{2, "", "tarvok-convert: " + std::string(option) + ": " + reason + "\n"};
    };
    if (app.count("--ms-level") != 0) {
        auto levels = parse_ms_levels(ms_levels);
        if (!levels) {
            return refused("--ms-level", levels.error());
        }
        options.filter.ms_levels = *std::move(levels);
    }
    if (app.count("--scan-range") != 0) {
        auto scans = parse_scan_range(scan_range);
        if (!scans) {
            return refused("--scan-range", scans.error());
        }
        options.filter.scans = *scans;
    }
    if (app.count("--rt-range") != 0) {
        auto seconds = parse_rt_range(rt_range);
        if (!seconds) {
            return refused("--rt-range", seconds.error());
        }
        options.filter.seconds = *seconds;
    }
    if (app.count("--jobs") != 0 && options.jobs < 1) {
        return Finished{2, "", "tarvok-convert: --jobs needs at least 1\n"};
    }
    if (options.output_dir == "-" && options.samples.size() != 1) {
        return Finished{2, "", "tarvok-convert: -o - writes one sample to standard output; " +
                                   std::to_string(options.samples.size()) + " were given\n"};
    }
    return options;
}

}  // namespace convert
