// The invariant check of the fuzz targets: a broken invariant aborts, which libFuzzer reports
// as a finding with its input.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}
