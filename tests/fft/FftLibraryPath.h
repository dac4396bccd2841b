// Where the tests find libFFT.so: in $PVESTRA_BIN, as the program finds it beside itself,
// else in the build's bin folder.
#pragma once

#include <cstdlib>
#include <string>

inline std::string FftLibraryPath() {
  const char* bin = std::getenv("PVESTRA_BIN");
  return std::string(bin && *bin ? bin : PVESTRA_BUILD_BIN) + "/libFFT.so";
}
