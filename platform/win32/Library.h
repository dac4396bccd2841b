// Dynamic libraries: LoadLibrary("NAME.dll") loads libNAME.so from the folder of the
// running executable (then the normal search path); GetProcAddress finds a C symbol.
#pragma once

#include <string>

#include "platform/win32/WinTypes.h"

HMODULE LoadLibraryA(const char* name);
void* GetProcAddress(HMODULE module, const char* symbol);
BOOL FreeLibrary(HMODULE module);

namespace win32 {
// The folder of the running executable, with a trailing slash.
std::string ExecutableFolder();
}  // namespace win32
