// Decodes one MS-Numpress array with the reference library, for the tests
// that hold the writer's numpress arrays against the values it was given.
// usage: tarvok-numpress-decode linear|integers < CODED > DOUBLES
// Prints the values as little-endian 64-bit floats.
#include <libmsnumpress/MSNumpress.hpp>

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string_view>
#include <vector>

int main(int argc, char** argv)
{
    const std::string_view kind = argc == 2 ? argv[1] : "";
    if (kind != "linear" && kind != "integers") {
        std::fprintf(stderr, "usage: %s linear|integers < CODED > DOUBLES\n", argv[0]);
        return 2;
    }
    const std::vector<unsigned char> coded(std::istreambuf_iterator<char>(std::cin), {});
    std::vector<double> values;
    try {
        if (kind == "linear") {
            ms::numpress::MSNumpress::decodeLinear(coded, values);
        } else {
            ms::numpress::MSNumpress::decodePic(coded, values);
        }
    } catch (const char* reason) {
        std::fprintf(stderr, "%s\n", reason);
        return 1;
    }
    std::fwrite(values.data(), sizeof(double), values.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
