#include "platform/win32/Library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "platform/win32/Handles.h"
#include <string>

namespace win32 {

std::string ExecutableFolder() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  std::string path(buf, size_t(n));
  return path.substr(0, path.rfind('/') + 1);
}

std::string LibraryFolder() {
  static const int anchor = 0;
  Dl_info info{};
  if (::dladdr(&anchor, &info) == 0 || info.dli_fname == nullptr) return ExecutableFolder();
  const std::string path = info.dli_fname;
  return path.substr(0, path.rfind('/') + 1);
}

}  // namespace win32

namespace {

// "FFT.dll" → "libFFT.so"; a name that already ends in ".so" is kept.
std::string SharedObjectName(std::string name) {
  const auto slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  if (name.size() > 4) {
    std::string ext = name.substr(name.size() - 4);
    for (auto& c : ext) c = char(tolower(c));
    if (ext == ".dll") return "lib" + name.substr(0, name.size() - 4) + ".so";
  }
  return name;
}

}  // namespace

HMODULE LoadLibraryA(const char* name) {
  if (!name) return nullptr;
  const std::string file = SharedObjectName(name);
  // Only the program's own folder: never the working directory or LD_LIBRARY_PATH.
  void* h = ::dlopen((win32::LibraryFolder() + file).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) SetLastError(ERROR_FILE_NOT_FOUND);
  return static_cast<HMODULE>(h);
}

void* GetProcAddress(HMODULE module, const char* symbol) {
  return module ? ::dlsym(module, symbol) : nullptr;
}

BOOL FreeLibrary(HMODULE module) { return module && ::dlclose(module) == 0 ? TRUE : FALSE; }
