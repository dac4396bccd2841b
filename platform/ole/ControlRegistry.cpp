#include "platform/ole/ControlRegistry.h"

#include <QLockFile>
#include <charconv>
#include <QString>
#include <filesystem>
#include <memory>
#include <mutex>
#include <sstream>

#include "platform/ole/PlatformUi.h"
#include "platform/win32/IniFile.h"

namespace ole {
namespace {

std::mutex& PathMutex() {
  static std::mutex m;
  return m;
}
std::string& PathOverride() {
  static std::string path;
  return path;
}
std::function<bool(const std::string&)>& WriteFault() {
  static std::function<bool(const std::string&)> fault;
  return fault;
}

// The registry file through the program's INI reader/writer, in std::string terms. Changes
// are collected and written in one atomic write by Commit().
class IniFile {
 public:
  explicit IniFile(const std::string& path) : ini_(QString::fromStdString(path)), batch_(ini_) {}
  bool ReadOk() const { return ini_.ReadOk(); }
  std::optional<std::string> Value(const std::string& section, const std::string& key) const {
    const QString s = QString::fromStdString(section), k = QString::fromStdString(key);
    if (!ini_.KeyExists(s, k)) return std::nullopt;
    return ini_.ReadString(s, k).toStdString();
  }
  void SetValue(const std::string& section, const std::string& key, const std::string& value) {
    ini_.WriteString(QString::fromStdString(section), QString::fromStdString(key), QString::fromStdString(value));
  }
  bool HasSection(const std::string& section) const {
    return ini_.Sections().contains(QString::fromStdString(section), Qt::CaseInsensitive);
  }
  void RemoveSection(const std::string& section) { ini_.EraseSection(QString::fromStdString(section)); }
  bool Commit() { return ini_.Flush(); }

 private:
  win32::IniFile ini_;
  win32::IniFile::Batch batch_;
};

std::string TypeLibSection(const std::string& libid) { return "TypeLib " + libid; }
std::string ClassSection(const std::string& clsid) { return "CLSID " + clsid; }
std::string ProgIdSection(const std::string& progId) { return "ProgID " + progId; }

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& s : items) out += (out.empty() ? "" : ",") + s;
  return out;
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ','))
    if (!item.empty()) out.push_back(item);
  return out;
}

// One read-modify-write of the registry file, serialised between processes by a lock file
// (the build registers two libraries at once).
bool Modify(const std::string& step, const std::function<void(IniFile&)>& change) {
  if (WriteFault() && WriteFault()(step)) return false;
  const std::string path = RegistryPath();
  QLockFile lock(QString::fromStdString(path + ".lock"));
  if (!lock.tryLock(10000)) return false;
  IniFile ini(path);
  if (!ini.ReadOk()) return false;
  change(ini);
  return ini.Commit();
}

void WriteTypeLib(IniFile& ini, const TypeLibEntry& t) {
  const std::string s = TypeLibSection(t.libid);
  ini.RemoveSection(s);
  ini.SetValue(s, "Version", t.version);
  ini.SetValue(s, "Locale", std::to_string(t.locale));
  ini.SetValue(s, "HelpString", t.helpString);
  ini.SetValue(s, "HelpFile", t.helpFile);
  ini.SetValue(s, "Library", t.library);
}

void WriteClass(IniFile& ini, const ClassEntry& c) {
  const std::string s = ClassSection(c.clsid);
  ini.RemoveSection(s);
  ini.SetValue(s, "Kind", c.kind == ClassEntry::Kind::Control ? "Control" : "PropertyPage");
  ini.SetValue(s, "Name", c.name);
  if (!c.progId.empty()) ini.SetValue(s, "ProgID", c.progId);
  ini.SetValue(s, "Library", c.library);
  ini.SetValue(s, "ThreadingModel", c.threadingModel);
  if (c.kind == ClassEntry::Kind::Control) {
    ini.SetValue(s, "MiscStatus", std::to_string(c.miscStatus));
    ini.SetValue(s, "Insertable", c.insertable ? "1" : "0");
    ini.SetValue(s, "ToolboxBitmap", std::to_string(c.toolboxBitmap));
    ini.SetValue(s, "TypeLib", c.typeLib);
    ini.SetValue(s, "Version", c.version);
    ini.SetValue(s, "PropertyPages", Join(c.propertyPages));
  }
  if (!c.progId.empty()) ini.SetValue(ProgIdSection(c.progId), "CLSID", c.clsid);
}

void EraseClass(IniFile& ini, const ClassEntry& c) {
  auto progId = ini.Value(ClassSection(c.clsid), "ProgID");
  ini.RemoveSection(ClassSection(c.clsid));
  for (const std::string& p : {progId.value_or(""), c.progId}) {
    if (!p.empty() && ini.Value(ProgIdSection(p), "CLSID") == c.clsid) ini.RemoveSection(ProgIdSection(p));
  }
}

// A hand-edited registry may hold anything; a number that does not parse counts as 0.
long long Number(const std::optional<std::string>& text) {
  long long n = 0;
  if (text) std::from_chars(text->data(), text->data() + text->size(), n);
  return n;
}

std::unique_ptr<IniFile> ReadRegistry() { return std::make_unique<IniFile>(RegistryPath()); }

}  // namespace

std::string RegistryPath() {
  std::lock_guard guard(PathMutex());
  if (!PathOverride().empty()) return PathOverride();
  return (std::filesystem::path(PlatformLibraryFolder()) / "controls.ini").string();
}

void SetRegistryPath(const std::string& path) {
  std::lock_guard guard(PathMutex());
  PathOverride() = path;
}

void SetRegistryWriteFault(std::function<bool(const std::string& step)> fault) {
  WriteFault() = std::move(fault);
}

HRESULT RegisterServer(const ServerRegistration& server) {
  if (!Modify("TypeLib", [&](IniFile& ini) { WriteTypeLib(ini, server.typeLib); })) return SELFREG_E_TYPELIB;
  if (!Modify("CLSID", [&](IniFile& ini) {
        for (const auto& c : server.classes) WriteClass(ini, c);
      }))
    return SELFREG_E_CLASS;
  return S_OK;
}

HRESULT UnregisterServer(const ServerRegistration& server) {
  if (!Modify("TypeLib", [&](IniFile& ini) { ini.RemoveSection(TypeLibSection(server.typeLib.libid)); }))
    return SELFREG_E_TYPELIB;
  if (!Modify("CLSID", [&](IniFile& ini) {
        for (const auto& c : server.classes) EraseClass(ini, c);
      }))
    return SELFREG_E_CLASS;
  return S_OK;
}

std::optional<ClassEntry> FindClass(const std::string& clsid) {
  const auto registry = ReadRegistry();
  const IniFile& ini = *registry;
  const std::string s = ClassSection(clsid);
  if (!ini.HasSection(s)) return std::nullopt;
  ClassEntry c;
  c.clsid = clsid;
  c.kind = ini.Value(s, "Kind") == "PropertyPage" ? ClassEntry::Kind::PropertyPage : ClassEntry::Kind::Control;
  c.name = ini.Value(s, "Name").value_or("");
  c.progId = ini.Value(s, "ProgID").value_or("");
  c.library = ini.Value(s, "Library").value_or("");
  c.threadingModel = ini.Value(s, "ThreadingModel").value_or("");
  c.miscStatus = static_cast<std::uint32_t>(Number(ini.Value(s, "MiscStatus")));
  c.insertable = ini.Value(s, "Insertable") == "1";
  c.toolboxBitmap = static_cast<int>(Number(ini.Value(s, "ToolboxBitmap")));
  c.typeLib = ini.Value(s, "TypeLib").value_or("");
  c.version = ini.Value(s, "Version").value_or("");
  c.propertyPages = Split(ini.Value(s, "PropertyPages").value_or(""));
  return c;
}

std::optional<std::string> ClsidFromProgId(const std::string& progId) {
  return ReadRegistry()->Value(ProgIdSection(progId), "CLSID");
}

std::optional<TypeLibEntry> FindTypeLib(const std::string& libid) {
  const auto registry = ReadRegistry();
  const IniFile& ini = *registry;
  const std::string s = TypeLibSection(libid);
  if (!ini.HasSection(s)) return std::nullopt;
  TypeLibEntry t;
  t.libid = libid;
  t.version = ini.Value(s, "Version").value_or("");
  t.locale = static_cast<int>(Number(ini.Value(s, "Locale")));
  t.helpString = ini.Value(s, "HelpString").value_or("");
  t.helpFile = ini.Value(s, "HelpFile").value_or("");
  t.library = ini.Value(s, "Library").value_or("");
  return t;
}

}  // namespace ole
