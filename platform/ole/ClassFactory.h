#pragma once
// What a control library exports, and the class factory it hands out.
//
// Every control library exports four C entry points:
//   HRESULT DllGetClassObject(const char* clsid, ole::ClassFactory** factory);
//   HRESULT DllCanUnloadNow();       // S_OK when no object and no lock is alive, else S_FALSE
//   HRESULT DllRegisterServer();     // S_OK, SELFREG_E_TYPELIB or SELFREG_E_CLASS
//   HRESULT DllUnregisterServer();   // the same codes
// Class ids are written in braces, upper case: "{875A7D86-865E-11D5-A5D7-0050BF3480D5}".

#include <atomic>

#include "platform/ole/OleTypes.h"

namespace ole {

class Control;
class PropertyPage;

class ClassFactory {
 public:
  virtual ~ClassFactory() = default;
  // Creates a new object of the factory's class; the caller owns it. A factory serves either
  // controls or property pages; the other call returns CLASS_E_CLASSNOTAVAILABLE.
  virtual HRESULT CreateControl(Control** out) {
    *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  virtual HRESULT CreatePropertyPage(PropertyPage** out) {
    *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  // Keeps the library loaded while locked, whether or not objects exist.
  virtual void LockServer(bool lock) = 0;
};

// The count behind DllCanUnloadNow: objects alive plus server locks. One per library.
class ServerModule {
 public:
  void Lock() { ++count_; }
  void Unlock() { --count_; }
  HRESULT CanUnloadNow() const { return count_.load() == 0 ? S_OK : S_FALSE; }

 private:
  std::atomic<int> count_{0};
};

extern "C" {
using DllGetClassObjectFn = HRESULT (*)(const char* clsid, ClassFactory** factory);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();
}

// Marks an entry point as exported from a library built with hidden symbols.
#define OLE_EXPORT extern "C" __attribute__((visibility("default")))

}  // namespace ole
