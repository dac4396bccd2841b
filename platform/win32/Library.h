// Dynamic libraries: LoadLibrary("NAME.dll") loads libNAME.so from the folder of the
// program's own libraries, and from nowhere else; GetProcAddress finds a C symbol.
#pragma once

#include <string>

#include "platform/win32/WinTypes.h"

HMODULE LoadLibraryA(const char* name);
void* GetProcAddress(HMODULE module, const char* symbol);
BOOL FreeLibrary(HMODULE module);

namespace win32 {
// The folder of the running executable, with a trailing slash.
std::string ExecutableFolder();
// The folder of the program's own libraries, with a trailing slash: where this platform
// library lies, found through the executable's run path (build/bin in the build tree,
// PREFIX/lib/pvestra when installed).
std::string LibraryFolder();
}  // namespace win32
