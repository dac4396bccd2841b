#include "platform/ole/ControlHost.h"

#include <dlfcn.h>

#include <QCoreApplication>
#include <QWidget>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>

#include "platform/ole/ClassFactory.h"
#include "platform/ole/ControlRegistry.h"
#include "platform/ole/PlatformUi.h"
#include "platform/ole/PropertyPage.h"

namespace ole {
namespace {

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// Loaded libraries by path. They are never closed: widgets and meta-objects of a library
// may outlive any one control.
void* OpenLibrary(const std::string& path, std::string* reason) {
  static std::mutex m;
  static std::map<std::string, void*> loaded;
  std::lock_guard guard(m);
  if (auto it = loaded.find(path); it != loaded.end()) return it->second;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle) {
    if (reason) *reason = "не удалось загрузить библиотеку " + path + ": " + dlerror();
    return nullptr;
  }
  loaded[path] = handle;
  return handle;
}

void* Entry(void* handle, const char* name, const std::string& path, std::string* reason) {
  void* fn = dlsym(handle, name);
  if (!fn && reason) *reason = "в библиотеке " + path + " нет точки входа " + name;
  return fn;
}

HRESULT GetFactory(const std::string& clsid, ClassFactory** factory, std::string* reason) {
  auto entry = FindClass(clsid);
  if (!entry) {
    if (reason) *reason = "класс " + clsid + " не зарегистрирован";
    return REGDB_E_CLASSNOTREG;
  }
  void* handle = OpenLibrary(entry->library, reason);
  if (!handle) return CLASS_E_CLASSNOTAVAILABLE;
  auto get = reinterpret_cast<DllGetClassObjectFn>(Entry(handle, "DllGetClassObject", entry->library, reason));
  if (!get) return CLASS_E_CLASSNOTAVAILABLE;
  HRESULT hr = get(clsid.c_str(), factory);
  if (!Succeeded(hr) || !*factory) {
    if (reason) *reason = "библиотека " + entry->library + " не обслуживает класс " + clsid + " (" + Hex(hr) + ")";
    return Succeeded(hr) ? CLASS_E_CLASSNOTAVAILABLE : hr;
  }
  return S_OK;
}

std::string ResolveLibrary(const std::string& name) {
  namespace fs = std::filesystem;
  if (fs::path(name).is_absolute()) return name;
  std::vector<fs::path> folders;
  if (QCoreApplication::instance()) folders.emplace_back(QCoreApplication::applicationDirPath().toStdString());
  folders.emplace_back(PlatformLibraryFolder());
  for (const auto& folder : folders) {
    std::error_code ec;
    if (fs::exists(folder / name, ec)) return (folder / name).string();
  }
  return (folders.back() / name).string();
}

}  // namespace

HostedControl::HostedControl(Control* control) : control_(control) {}

HostedControl::~HostedControl() {
  if (control_) {
    if (cookie_) control_->Events().Unadvise(cookie_);
    delete control_.data();
  }
}

HRESULT HostedControl::Load(std::span<const std::uint8_t> storedForm) {
  return control_ ? control_->LoadFromStream(storedForm) : E_UNEXPECTED;
}

std::vector<std::uint8_t> HostedControl::Save() { return control_ ? control_->SaveToStream() : std::vector<std::uint8_t>{}; }

HRESULT HostedControl::Get(DispId id, Variant& value) {
  return control_ ? control_->GetProperty(id, value) : E_UNEXPECTED;
}

HRESULT HostedControl::Put(DispId id, const Variant& value) {
  return control_ ? control_->PutProperty(id, value) : E_UNEXPECTED;
}

HRESULT HostedControl::Call(DispId id, const Args& args, Variant* result) {
  return control_ ? control_->Invoke(id, InvokeKind::Method, args, result) : E_UNEXPECTED;
}

const TypeInfo* HostedControl::DispatchTypeInfo() const { return control_ ? control_->GetTypeInfo() : nullptr; }

const TypeInfo* HostedControl::EventTypeInfo() const { return control_ ? control_->GetEventTypeInfo() : nullptr; }

namespace {

HRESULT IdIn(const TypeInfo* info, bool present, const std::string& name, DispId& id) {
  id = DISPID_UNKNOWN;
  if (!present) return E_UNEXPECTED;
  if (!info) return E_NOTIMPL;
  return info->IdOfName(name, id);
}

}  // namespace

HRESULT HostedControl::IdOfName(const std::string& name, DispId& id) const {
  return IdIn(DispatchTypeInfo(), control_ != nullptr, name, id);
}

HRESULT HostedControl::EventIdOfName(const std::string& name, DispId& id) const {
  return IdIn(EventTypeInfo(), control_ != nullptr, name, id);
}

void HostedControl::SetEventSink(EventSink sink) {
  if (!control_) return;
  if (cookie_) control_->Events().Unadvise(cookie_);
  cookie_ = sink ? control_->Events().Advise(std::move(sink)) : 0;
}

HRESULT HostedControl::ShowPropertyPage(QWidget* parent) {
  if (!control_) return E_UNEXPECTED;
  const std::string clsid = control_->PropertyPageClsid();
  if (clsid.empty()) return E_FAIL;
  PropertyPage* page = nullptr;
  HRESULT hr = CreatePropertyPage(clsid, &page);
  if (!Succeeded(hr)) return hr;
  std::unique_ptr<PropertyPage> owned(page);
  PropertyPageDialog dialog(*owned, *control_, parent);
  dialog.exec();
  return S_OK;
}

HRESULT CreateControl(const std::string& clsid, Control** out, std::string* reason) {
  *out = nullptr;
  ClassFactory* factory = nullptr;
  HRESULT hr = GetFactory(clsid, &factory, reason);
  if (!Succeeded(hr)) return hr;
  hr = factory->CreateControl(out);
  if ((!Succeeded(hr) || !*out) && reason) *reason = "класс " + clsid + " не создал элемент (" + Hex(hr) + ")";
  return *out ? hr : (Succeeded(hr) ? E_FAIL : hr);
}

HRESULT CreatePropertyPage(const std::string& clsid, PropertyPage** out, std::string* reason) {
  *out = nullptr;
  ClassFactory* factory = nullptr;
  HRESULT hr = GetFactory(clsid, &factory, reason);
  if (!Succeeded(hr)) return hr;
  hr = factory->CreatePropertyPage(out);
  if ((!Succeeded(hr) || !*out) && reason) *reason = "класс " + clsid + " не создал страницу (" + Hex(hr) + ")";
  return *out ? hr : (Succeeded(hr) ? E_FAIL : hr);
}

CreateResult CreateControlInPlace(const std::string& clsid, QWidget* parent, const QRect& geometry,
                                  const CreateOptions& options) {
  CreateResult result;
  Control* control = nullptr;
  result.code = CreateControl(clsid, &control, &result.reason);
  if (!control && !options.registerIfMissing.empty()) {
    std::string why;
    HRESULT hr = RegisterLibrary(ResolveLibrary(options.registerIfMissing), false, &why);
    if (!Succeeded(hr)) {
      result.code = hr;
      result.reason += "; регистрация не удалась: " + (why.empty() ? Hex(hr) : why);
      return result;
    }
    result.reason.clear();
    result.code = CreateControl(clsid, &control, &result.reason);
  }
  if (!control) return result;
  auto hosted = std::make_unique<HostedControl>(control);
  result.code = options.storedForm.empty() ? control->InitNew() : control->LoadFromStream(options.storedForm);
  if (!Succeeded(result.code)) {
    result.reason = "сохранённые свойства элемента " + clsid + " не читаются (" + Hex(result.code) + ")";
    return result;
  }
  control->ActivateInPlace(parent, geometry);
  result.control = std::move(hosted);
  result.reason.clear();
  return result;
}

HRESULT RegisterLibrary(const std::string& libraryPath, bool unregister, std::string* reason) {
  void* handle = OpenLibrary(libraryPath, reason);
  if (!handle) return E_FAIL;
  const char* name = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto fn = reinterpret_cast<DllRegisterServerFn>(Entry(handle, name, libraryPath, reason));
  if (!fn) return E_FAIL;
  return fn();
}

HRESULT LibraryCanUnloadNow(const std::string& libraryPath) {
  void* handle = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!handle) return S_FALSE;
  auto fn = reinterpret_cast<DllCanUnloadNowFn>(dlsym(handle, "DllCanUnloadNow"));
  HRESULT hr = fn ? fn() : S_FALSE;
  dlclose(handle);  // drops only the reference taken here
  return hr;
}

}  // namespace ole
