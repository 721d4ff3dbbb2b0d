#pragma once

// The fuzz targets' assertion: it stays on in every build type (unlike assert) and aborts, which
// libFuzzer and the corpus replay both report as a failure together with the broken invariant.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
