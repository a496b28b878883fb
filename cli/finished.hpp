#pragma once

#include <cstdio>
#include <sstream>
#include <string>

// What both programs do when the command line ends the run before any work.
namespace tarvok_cli {

// Text to print and the exit status to leave with (help, version, usage errors).
struct Finished {
    int status = 0;
    std::string out;  // for standard output
    std::string err;  // for standard error
};

// CLI11's text for a CLI::ParseError from app.parse; every failing status
// becomes the usage error's 2. A template, so that the programs' mains need
// not compile CLI11.
template <typename App, typename ParseError>
Finished from_parse_error(const App& app, const ParseError& error)
{
    std::ostringstream out;
    std::ostringstream err;
    const int status = app.exit(error, out, err);
    return Finished{status == 0 ? 0 : 2, out.str(), err.str()};
}

inline int print(const Finished& finished)
{
    std::fputs(finished.out.c_str(), stdout);
    std::fputs(finished.err.c_str(), stderr);
    return finished.status;
}

}  // namespace tarvok_cli
