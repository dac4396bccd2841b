// The library's entry points: class factories for the control and its property page, the
// unload check, and self-registration into the control registry.

#include "knob/MirtalModule.h"

#include <strings.h>

#include "knob/MirtalCtrl.h"
#include "knob/MirtalIds.h"
#include "platform/ole/ControlRegistry.h"
#include "platform/ole/PlatformUi.h"

namespace mirtal {

ole::ServerModule& Module() {
  static ole::ServerModule module;
  return module;
}

namespace {

std::vector<ole::PageField> PageFields() {
  using Kind = ole::PageField::Kind;
  std::vector<ole::PageField::Choice> modes;
  if constexpr (kVariantG)
    modes = {{203, QStringLiteral("Big"), 0}, {204, QStringLiteral("Small"), 1}, {212, QStringLiteral("degree"), 2}};
  else
    modes = {{203, QStringLiteral("Большой"), 0}, {204, QStringLiteral("Поменьше"), 1}};
  return {
      {Kind::IntegerEdit, 201, QStringLiteral("Шаг:"), dispid::Step, {}, {}},
      {Kind::IntegerEdit, 202, QStringLiteral("Шаг(грубо):"), dispid::BigStep, {}, {}},
      {Kind::IntegerEdit, 206, QStringLiteral("Нижняя граница:"), dispid::DNRange, {}, {}},
      {Kind::IntegerEdit, 205, QStringLiteral("Верхняя граница:"), dispid::UpRange, {}, {}},
      {Kind::Radio, 203, QStringLiteral("Тип валкода:"), dispid::Mode, {}, modes},
      {Kind::IntegerEdit, 209, QStringLiteral("Скорость перестройки:"), dispid::Timer,
       QStringLiteral("(1- 20 шагов в секунду)"), {}},
      {Kind::TextEdit, 208, QStringLiteral("Подсказка:"), dispid::ToolTipText, {}, {}},
  };
}

class ControlFactory : public ole::ClassFactory {
 public:
  ole::HRESULT CreateControl(ole::Control** out) override {
    *out = new MirtalCtrl;
    return ole::S_OK;
  }
  void LockServer(bool lock) override { lock ? Module().Lock() : Module().Unlock(); }
};

class PageFactory : public ole::ClassFactory {
 public:
  ole::HRESULT CreatePropertyPage(ole::PropertyPage** out) override {
    *out = new MirtalPropPage;
    return ole::S_OK;
  }
  void LockServer(bool lock) override { lock ? Module().Lock() : Module().Unlock(); }
};

ole::ServerRegistration Registration() {
  const std::string library = ole::ModulePath(reinterpret_cast<const void*>(&Registration));
  ole::ServerRegistration r;
  r.typeLib = {kLibId, kTypeLibVersion, kTypeLibLocale, kHelpString, kHelpFile, library};
  ole::ClassEntry control;
  control.clsid = kClsid;
  control.kind = ole::ClassEntry::Kind::Control;
  control.name = kTypeName;
  control.progId = kProgId;
  control.library = library;
  control.threadingModel = "Apartment";
  control.miscStatus = kMiscStatus;
  control.insertable = true;
  control.toolboxBitmap = kToolboxBitmap;
  control.typeLib = kLibId;
  control.version = kTypeLibVersion;
  control.propertyPages = {kPropPageClsid};
  ole::ClassEntry page;
  page.clsid = kPropPageClsid;
  page.kind = ole::ClassEntry::Kind::PropertyPage;
  page.name = kPropPageTypeName;
  page.progId = kPropPageProgId;
  page.library = library;
  page.threadingModel = "Apartment";
  r.classes = {control, page};
  return r;
}

}  // namespace

MirtalPropPage::MirtalPropPage() : ole::PropertyPage(QStringLiteral("General"), PageFields()) { Module().Lock(); }

MirtalPropPage::~MirtalPropPage() { Module().Unlock(); }

}  // namespace mirtal

OLE_EXPORT ole::HRESULT DllGetClassObject(const char* clsid, ole::ClassFactory** factory) {
  static mirtal::ControlFactory controlFactory;
  static mirtal::PageFactory pageFactory;
  *factory = nullptr;
  if (clsid == nullptr) return ole::E_INVALIDARG;
  if (strcasecmp(clsid, mirtal::kClsid) == 0)
    *factory = &controlFactory;
  else if (strcasecmp(clsid, mirtal::kPropPageClsid) == 0)
    *factory = &pageFactory;
  else
    return ole::CLASS_E_CLASSNOTAVAILABLE;
  return ole::S_OK;
}

OLE_EXPORT ole::HRESULT DllCanUnloadNow() { return mirtal::Module().CanUnloadNow(); }

OLE_EXPORT ole::HRESULT DllRegisterServer() { return ole::RegisterServer(mirtal::Registration()); }

OLE_EXPORT ole::HRESULT DllUnregisterServer() { return ole::UnregisterServer(mirtal::Registration()); }
