#include "command_line.hpp"

#include <CLI/CLI.hpp>

namespace info {

std::variant<Options, Finished> parse_command_line(int argc, char** argv)
{
    Options options;
    CLI::App app("Shows what WIFF samples hold and which of their scan blocks are damaged.", "tarvok-info");
    app.set_version_flag("--version", std::string("tarvok-info ") + TARVOK_VERSION);
    app.add_option("SAMPLE", options.samples, "WIFF files to inspect (each with its .wiff.scan beside it)")
        ->required()
        ->type_name("SAMPLE.wiff");
    app.add_flag("--json", options.json, "Print one JSON array, one object per sample, instead of text");
    app.add_option("--html", options.html,
                   "Also write a self-contained HTML report with plots: to PATH for one sample, to "
                   "PATH/<sample name>.html for several")
        ->type_name("PATH");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return tarvok_cli::from_parse_error(app, error);
    }
    if (options.html && options.html->empty()) {
        return Finished{2, "", "tarvok-info: --html needs a path\n"};
    }
    return options;
}

}  // namespace info
