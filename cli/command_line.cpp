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
    app.add_option("-j,--jobs", options.jobs, "Convert N samples at once (default: the number of cores)")
        ->type_name("N");
    app.add_flag("-q,--quiet", options.quiet, "Show no progress and no summary");
    app.add_flag("--salvage", options.salvage,
                 "Convert a sample with damaged scan blocks as far as they decode, with a warning per block");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        std::ostringstream out;
        std::ostringstream err;
        const int status = app.exit(error, out, err);
        return Finished{status == 0 ? 0 : 2, out.str(), err.str()};
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
