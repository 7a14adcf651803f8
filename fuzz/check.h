// The fuzz targets' assertion: a failed invariant aborts, which libFuzzer reports as a finding
// with the input that caused it. Unlike assert, it stays in every build type.
#pragma once

#include <cstdio>
#include <cstdlib>

#define CHECK(c)                                                                      \
    do {                                                                              \
        if (!(c)) {                                                                   \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #c); \
            std::abort();                                                             \
        }                                                                             \
    } while (0)
