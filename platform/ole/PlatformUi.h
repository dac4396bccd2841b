#pragma once
// The few desktop services a control asks the system for: a plain message box, the state of
// the Shift key, and the folder the platform library was loaded from. Tests replace the first
// two so that no modal box blocks them and the key state is theirs to choose.

#include <functional>
#include <string>

namespace ole {

// Shows a message box without caption and with one OK button (modal).
void MessageBox(const std::string& text);
// Whether a Shift key is held right now.
bool IsShiftDown();

// Replacements; an empty function restores the desktop's own behaviour.
void SetMessageBoxHandler(std::function<void(const std::string&)> handler);
void SetShiftStateProvider(std::function<bool()> provider);

// Absolute path of the shared object that holds the given address (a function or object of
// it), or an empty string.
std::string ModulePath(const void* addressInModule);
// Folder of the platform library itself: the folder of the executables.
std::string PlatformLibraryFolder();

}  // namespace ole
