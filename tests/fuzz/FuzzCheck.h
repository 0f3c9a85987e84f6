#pragma once

// Shared by the fuzz targets: a broken property aborts, and libFuzzer keeps the input that broke it.

#include <cstdint>
#include <cstdlib>

inline void check(bool condition)
{
    if (!condition)
        std::abort();
}
