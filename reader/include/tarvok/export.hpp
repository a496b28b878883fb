#pragma once

// The library is built with its symbols hidden; what its users call is
// marked, so that the shared library exports that and nothing else.
#define TARVOK_API __attribute__((visibility("default")))
