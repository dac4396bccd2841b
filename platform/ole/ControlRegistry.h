#pragma once
// The control registry: the machine-wide file that maps class ids and programmatic ids to
// the libraries serving them, and holds the registered type libraries. It is "controls.ini"
// in the folder of the executables (the folder of the platform library); tests point it
// elsewhere with SetRegistryPath.
//
// Layout (ASCII INI):
//   [TypeLib {LIBID}]  Version, Locale, HelpString, HelpFile, Library
//   [CLSID {CLSID}]    Name, ProgID, Library, ThreadingModel, MiscStatus, Insertable,
//                      ToolboxBitmap, TypeLib, Version, PropertyPages, Kind (Control|PropertyPage)
//   [ProgID NAME]      CLSID
// Every change is one read-modify-write under a lock file, saved atomically.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ole/OleTypes.h"

namespace ole {

struct TypeLibEntry {
  std::string libid;
  std::string version;  // "1.0"
  int locale = 0;
  std::string helpString;
  std::string helpFile;
  std::string library;  // absolute path of the library holding the type library
};

struct ClassEntry {
  enum class Kind { Control, PropertyPage };
  std::string clsid;
  Kind kind = Kind::Control;
  std::string name;            // type name
  std::string progId;          // may be empty
  std::string library;         // absolute path
  std::string threadingModel;  // "Apartment"
  std::uint32_t miscStatus = 0;
  bool insertable = false;
  int toolboxBitmap = 0;       // resource id, 0 = none
  std::string typeLib;         // libid, may be empty
  std::string version;
  std::vector<std::string> propertyPages;  // class ids
};

// Everything one library registers: its type library first, then its classes.
struct ServerRegistration {
  TypeLibEntry typeLib;
  std::vector<ClassEntry> classes;
};

// Registers the type library (failure: SELFREG_E_TYPELIB), then the classes (failure:
// SELFREG_E_CLASS); S_OK on success.
HRESULT RegisterServer(const ServerRegistration& server);
// Removes them in the same order with the same results. A ProgID is removed only while it
// still names the class being removed.
HRESULT UnregisterServer(const ServerRegistration& server);

std::optional<ClassEntry> FindClass(const std::string& clsid);
std::optional<std::string> ClsidFromProgId(const std::string& progId);
std::optional<TypeLibEntry> FindTypeLib(const std::string& libid);

// The registry file in use; an empty path restores the default.
std::string RegistryPath();
void SetRegistryPath(const std::string& path);

// Lets a test refuse a write: called with "TypeLib" or "CLSID" before that step writes;
// returning true makes the step fail. Empty function = no refusal.
void SetRegistryWriteFault(std::function<bool(const std::string& step)> fault);

}  // namespace ole
