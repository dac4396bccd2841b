// The built knob libraries in the control registry: self-registration, creation by class id
// through the container's side, binding members and events by name through the type
// information, unregistration, and the two registration errors.

#include <gtest/gtest.h>

#include <QApplication>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "platform/ole/ControlHost.h"
#include "platform/ole/ControlRegistry.h"
#include "platform/ole/PlatformUi.h"
#include "tests/platform/ole/QtApp.h"

namespace {

const std::string kMirtal = "{875A7D86-865E-11D5-A5D7-0050BF3480D5}";
const std::string kMirtalG = "{875A7D86-865E-11D5-A5D7-0050BF3480D6}";

const std::vector<std::uint8_t> kContainerForm{
    0x00, 0x00, 0x01, 0x00, 0x9D, 0x06, 0x00, 0x00, 0x83, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE8, 0x03, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x00, 0x80, 0x01, 0x00, 0x14, 0x00};

class KnobRegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_qt::EnsureApplication();
    ASSERT_TRUE(dir_.isValid());
    ole::SetRegistryPath(dir_.filePath("controls.ini").toStdString());
    // The libraries lie beside the platform library when the environment does not say.
    const char* env = std::getenv("PVESTRA_BIN");
    const std::string bin = env ? env : ole::PlatformLibraryFolder();
    mirtal_ = bin + "/libMirtal.so";
    mirtalG_ = bin + "/libMirtalG.so";
  }
  void TearDown() override {
    ole::SetRegistryPath("");
    ole::SetRegistryWriteFault({});
  }

  QTemporaryDir dir_;
  std::string mirtal_, mirtalG_;
};

TEST_F(KnobRegistrationTest, EachLibraryRegistersItsTypeLibraryControlAndPage) {
  ASSERT_EQ(ole::RegisterLibrary(mirtal_), ole::S_OK);
  ASSERT_EQ(ole::RegisterLibrary(mirtalG_), ole::S_OK);
  const struct {
    std::string clsid, progId, libid, version, helpString, page, pageProgId, library;
  } cases[] = {
      {kMirtal, "MIRTAL.MirtalCtrl.1", "{875A7D83-865E-11D5-A5D7-0050BF3480D5}", "1.0",
       "Mirtal ActiveX Control module", "{875A7D87-865E-11D5-A5D7-0050BF3480D5}", "MIRTAL.MirtalPropPage.1", mirtal_},
      {kMirtalG, "MIRTALG.MirtalCtrl.1", "{875A7D83-865E-11D5-A5D7-0050BF3480D6}", "1.1",
       "MirtalG ActiveX Control module", "{875A7D87-865E-11D5-A5D7-0050BF3480D6}", "MIRTALG.MirtalPropPage.1",
       mirtalG_},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.clsid);
    auto control = ole::FindClass(c.clsid);
    ASSERT_TRUE(control);
    EXPECT_EQ(control->name, "Mirtal Control");
    EXPECT_EQ(control->progId, c.progId);
    EXPECT_EQ(control->threadingModel, "Apartment");
    EXPECT_EQ(control->miscStatus, 131473u);
    EXPECT_TRUE(control->insertable);
    EXPECT_EQ(control->typeLib, c.libid);
    EXPECT_EQ(control->propertyPages, std::vector<std::string>{c.page});
    EXPECT_EQ(std::filesystem::path(control->library), std::filesystem::canonical(c.library));
    EXPECT_EQ(ole::ClsidFromProgId(c.progId), c.clsid);
    auto lib = ole::FindTypeLib(c.libid);
    ASSERT_TRUE(lib);
    EXPECT_EQ(lib->version, c.version);
    EXPECT_EQ(lib->locale, 1033);
    EXPECT_EQ(lib->helpString, c.helpString);
    auto page = ole::FindClass(c.page);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->name, "Mirtal Property Page");
    EXPECT_EQ(page->progId, c.pageProgId);
  }
  // Removing one build leaves the other's control and page in place.
  ASSERT_EQ(ole::RegisterLibrary(mirtalG_, true), ole::S_OK);
  EXPECT_FALSE(ole::FindClass(kMirtalG));
  EXPECT_TRUE(ole::FindClass(kMirtal));
  EXPECT_TRUE(ole::FindClass("{875A7D87-865E-11D5-A5D7-0050BF3480D5}"));
}

TEST_F(KnobRegistrationTest, ContainerCreatesTheKnobByClassIdUntilItIsUnregistered) {
  ASSERT_EQ(ole::RegisterLibrary(mirtal_), ole::S_OK);
  QWidget window;
  ole::CreateOptions options;
  options.storedForm = kContainerForm;
  ole::CreateResult r = ole::CreateControlInPlace(kMirtal, &window, QRect(10, 20, 64, 63), options);
  ASSERT_TRUE(r) << r.reason;
  EXPECT_EQ(r.control->control()->parentWidget(), &window);
  EXPECT_EQ(r.control->control()->geometry(), QRect(10, 20, 64, 63));

  std::vector<std::int32_t> reported;
  r.control->SetEventSink([&](ole::DispId id, const ole::Args& args) {
    if (id == 1) reported.push_back(*args[0].toInt32());
  });
  ole::Variant v;
  ASSERT_EQ(r.control->Get(2, v), ole::S_OK);
  EXPECT_EQ(v.toInt32(), 1);  // BigStep from the stored form
  QImage image(64, 63, QImage::Format_RGB32);
  r.control->control()->render(&image);
  ASSERT_EQ(r.control->Put(9, std::int32_t(7000000)), ole::S_OK);
  r.control->control()->render(&image);
  EXPECT_EQ(reported, (std::vector<std::int32_t>{0, 7000000}));
  EXPECT_EQ(r.control->Save(), kContainerForm);

  EXPECT_EQ(ole::LibraryCanUnloadNow(mirtal_), ole::S_FALSE);
  r.control.reset();
  EXPECT_EQ(ole::LibraryCanUnloadNow(mirtal_), ole::S_OK);

  ASSERT_EQ(ole::RegisterLibrary(mirtal_, true), ole::S_OK);
  ole::CreateResult again = ole::CreateControlInPlace(kMirtal, &window, QRect(10, 20, 64, 63), options);
  EXPECT_FALSE(again);
  EXPECT_EQ(again.code, ole::REGDB_E_CLASSNOTREG);
  EXPECT_NE(again.reason.find(kMirtal), std::string::npos) << again.reason;
  EXPECT_TRUE(window.findChildren<QWidget*>().isEmpty());
}

TEST_F(KnobRegistrationTest, ContainerRegistersTheLibraryBesideItWhenTheClassIsMissing) {
  QWidget window;
  ole::CreateOptions options;
  options.registerIfMissing = "libMirtal.so";
  ole::CreateResult r = ole::CreateControlInPlace(kMirtal, &window, QRect(0, 0, 64, 63), options);
  ASSERT_TRUE(r) << r.reason;
  EXPECT_TRUE(ole::FindClass(kMirtal));

  options.registerIfMissing = "libNoSuchKnob.so";
  ole::CreateResult missing = ole::CreateControlInPlace("{00000000-0000-0000-0000-000000000000}", &window,
                                                        QRect(0, 0, 64, 63), options);
  EXPECT_FALSE(missing);
  EXPECT_NE(missing.reason.find("libNoSuchKnob.so"), std::string::npos) << missing.reason;
}

TEST_F(KnobRegistrationTest, PropertyPageIsCreatedByItsOwnClassIdForEachBuild) {
  ASSERT_EQ(ole::RegisterLibrary(mirtal_), ole::S_OK);
  ASSERT_EQ(ole::RegisterLibrary(mirtalG_), ole::S_OK);
  const struct {
    std::string clsid;
    QString modeButton;  // the page's first radio button
  } cases[] = {{kMirtal, QStringLiteral("Большой")}, {kMirtalG, QStringLiteral("Big")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.clsid);
    QWidget window;
    ole::CreateResult r = ole::CreateControlInPlace(c.clsid, &window, QRect(0, 0, 64, 63));
    ASSERT_TRUE(r) << r.reason;
    QString title, button;
    QTimer::singleShot(0, [&] {
      QWidget* page = QApplication::activeModalWidget();
      ASSERT_NE(page, nullptr);
      title = page->windowTitle();
      button = page->findChild<QRadioButton*>("id203")->text();
      page->close();
    });
    EXPECT_EQ(r.control->ShowPropertyPage(&window), ole::S_OK);
    EXPECT_EQ(title, "General");
    EXPECT_EQ(button, c.modeButton);
  }
}

TEST_F(KnobRegistrationTest, UnreadableStoredFormLeavesNothingBehind) {
  ASSERT_EQ(ole::RegisterLibrary(mirtal_), ole::S_OK);
  QWidget window;
  const std::vector<std::uint8_t> cut(kContainerForm.begin(), kContainerForm.begin() + 30);
  ole::CreateOptions options;
  options.storedForm = cut;
  ole::CreateResult r = ole::CreateControlInPlace(kMirtal, &window, QRect(0, 0, 64, 63), options);
  EXPECT_FALSE(r);
  EXPECT_EQ(r.code, ole::STG_E_READFAULT);
  EXPECT_FALSE(r.reason.empty());
  EXPECT_TRUE(window.findChildren<QWidget*>().isEmpty());
  EXPECT_EQ(ole::LibraryCanUnloadNow(mirtal_), ole::S_OK);
}

TEST_F(KnobRegistrationTest, RegistryThatCannotBeWrittenGivesTheSelfRegistrationErrors) {
  ASSERT_EQ(ole::RegisterLibrary(mirtal_), ole::S_OK);  // something to unregister
  const struct {
    const char* name;
    bool unregister;
    bool missingFolder;       // the registry's folder does not exist
    const char* refusedStep;  // or one step's write is refused
    ole::HRESULT code;
  } cases[] = {
      {"register, no folder", false, true, nullptr, ole::SELFREG_E_TYPELIB},
      {"register, classes refused", false, false, "CLSID", ole::SELFREG_E_CLASS},
      {"register, type library refused", false, false, "TypeLib", ole::SELFREG_E_TYPELIB},
      {"unregister, no folder", true, true, nullptr, ole::SELFREG_E_TYPELIB},
      {"unregister, classes refused", true, false, "CLSID", ole::SELFREG_E_CLASS},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ole::SetRegistryPath(c.missingFolder ? dir_.filePath("gone/controls.ini").toStdString()
                                         : dir_.filePath("controls.ini").toStdString());
    const std::string refused = c.refusedStep ? c.refusedStep : "";
    ole::SetRegistryWriteFault([refused](const std::string& step) { return step == refused; });
    EXPECT_EQ(ole::RegisterLibrary(mirtal_, c.unregister), c.code);
    ole::SetRegistryWriteFault({});
  }
  // Every refused unregistration left the class in place.
  ole::SetRegistryPath(dir_.filePath("controls.ini").toStdString());
  EXPECT_TRUE(ole::FindClass(kMirtal));
}

// One member as the container must find it in the type information.
struct Declared {
  const char* name;
  ole::DispId id;
  ole::MemberInfo::Kind kind;
  ole::Variant::Type type;  // property type or result
  std::vector<ole::ParamInfo> params;
};

struct Interfaces {
  std::string clsid;
  std::string dispatchIid, dispatchDoc;
  std::vector<Declared> members;
  std::string eventsIid, eventsDoc;
  std::vector<Declared> events;
};

std::vector<Interfaces> DeclaredInterfaces() {
  using K = ole::MemberInfo::Kind;
  using T = ole::Variant::Type;
  const Declared run{"Run", 10, K::Method, T::Empty, {{"Dir", T::Bool}, {"Start", T::Bool}}};
  const Declared about{"AboutBox", -552, K::Method, T::Empty, {}};
  const Declared getValue{"GetValue", 1, K::Method, T::Empty, {{"Value", T::Int32}}};
  const Declared mouse{"Mouse", 2, K::Method, T::Empty, {{"bDown", T::Bool}}};
  return {
      {kMirtal,
       "{875A7D84-865E-11D5-A5D7-0050BF3480D5}",
       "Dispatch interface for Mirtal Control",
       {{"Step", 1, K::Property, T::Int32, {}},
        {"BigStep", 2, K::Property, T::Int32, {}},
        {"Kind", 3, K::Property, T::Int32, {}},
        {"UpRange", 4, K::Property, T::Int32, {}},
        {"DNRange", 5, K::Property, T::Int32, {}},
        {"ShowToolTip", 6, K::Property, T::Bool, {}},
        {"ToolTipText", 7, K::Property, T::String, {}},
        {"Timer", 8, K::Property, T::Int16, {}},
        {"ValueMirtal", 9, K::Property, T::Int32, {}},
        run,
        about},
       "{875A7D85-865E-11D5-A5D7-0050BF3480D5}",
       "Event interface for Mirtal Control",
       {getValue, mouse, {"MouseInt", 3, K::Method, T::Empty, {{"Value", T::Int32}}}}},
      {kMirtalG,
       "{875A7D84-865E-11D5-A5D7-0050BF3480D6}",
       "Dispatch interface for MirtalG Control",
       {{"Step", 1, K::Property, T::Int32, {}},
        {"BigStep", 2, K::Property, T::Int32, {}},
        {"UpRange", 3, K::Property, T::Int32, {}},
        {"DNRange", 4, K::Property, T::Int32, {}},
        {"ShowToolTip", 5, K::Property, T::Bool, {}},
        {"ToolTipText", 6, K::Property, T::String, {}},
        {"Timer", 7, K::Property, T::Int16, {}},
        {"Background", 8, K::Property, T::Int32, {}},
        {"ValueMirtal", 9, K::Property, T::Int32, {}},
        run,
        about},
       "{875A7D85-865E-11D5-A5D7-0050BF3480D6}",
       "Event interface for MirtalG Control",
       {getValue, mouse}},
  };
}

// A value of the given type that differs from every default.
ole::Variant Sample(ole::Variant::Type type) {
  switch (type) {
    case ole::Variant::Type::Bool: return false;
    case ole::Variant::Type::Int16: return std::int16_t(10);
    case ole::Variant::Type::String: return "подсказка";
    default: return std::int32_t(12345);
  }
}

// Checks one interface's type information against what it must declare, and nothing more.
void ExpectDeclared(const ole::TypeInfo* info, const std::string& iid, const std::string& doc,
                    const std::vector<Declared>& declared) {
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->Iid(), iid);
  EXPECT_EQ(info->DocString(), doc);
  std::set<std::string> names;
  for (const auto& m : info->Members()) {
    names.insert(m.name);
    EXPECT_FALSE(m.helpString.empty()) << m.name;
  }
  std::set<std::string> expected;
  for (const auto& d : declared) {
    SCOPED_TRACE(d.name);
    expected.insert(d.name);
    ole::DispId id = 0;
    ASSERT_EQ(info->IdOfName(d.name, id), ole::S_OK);
    EXPECT_EQ(id, d.id);
    const ole::MemberInfo* m = info->Member(id);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->kind, d.kind);
    EXPECT_EQ(m->type, d.type);
    EXPECT_EQ(m->params, d.params);
  }
  EXPECT_EQ(names, expected);
}

TEST_F(KnobRegistrationTest, ContainerBindsEveryMemberAndEventByName) {
  ASSERT_EQ(ole::RegisterLibrary(mirtal_), ole::S_OK);
  ASSERT_EQ(ole::RegisterLibrary(mirtalG_), ole::S_OK);
  for (const Interfaces& c : DeclaredInterfaces()) {
    SCOPED_TRACE(c.clsid);
    QWidget window;
    ole::CreateResult r = ole::CreateControlInPlace(c.clsid, &window, QRect(0, 0, 64, 63));
    ASSERT_TRUE(r) << r.reason;
    ole::HostedControl& knob = *r.control;
    ExpectDeclared(knob.DispatchTypeInfo(), c.dispatchIid, c.dispatchDoc, c.members);
    ExpectDeclared(knob.EventTypeInfo(), c.eventsIid, c.eventsDoc, c.events);

    // Every property bound by name takes a value of its declared type and gives it back.
    for (const Declared& d : c.members) {
      if (d.kind != ole::MemberInfo::Kind::Property) continue;
      SCOPED_TRACE(d.name);
      ole::DispId id = 0;
      ASSERT_EQ(knob.IdOfName(d.name, id), ole::S_OK);
      ASSERT_EQ(knob.Put(id, Sample(d.type)), ole::S_OK);
      ole::Variant back;
      ASSERT_EQ(knob.Get(id, back), ole::S_OK);
      EXPECT_EQ(back, Sample(d.type));
    }

    // Events are told apart by the names their ids resolve to.
    std::vector<std::string> fired;
    const ole::TypeInfo* events = knob.EventTypeInfo();
    knob.SetEventSink([&](ole::DispId id, const ole::Args&) {
      const ole::MemberInfo* m = events->Member(id);
      fired.push_back(m ? m->name : "?");
    });
    // Run by name, its arguments placed where their names say.
    std::vector<ole::DispId> ids;
    ASSERT_EQ(r.control->control()->GetIDsOfNames({"Run", "Start", "Dir"}, ids), ole::S_OK);
    ASSERT_EQ(ids, (std::vector<ole::DispId>{10, 1, 0}));
    ole::Args args(2);
    args[ids[1]] = true;   // Start
    args[ids[2]] = false;  // Dir: up
    ASSERT_EQ(knob.Call(ids[0], args), ole::S_OK);
    args[ids[1]] = false;
    ASSERT_EQ(knob.Call(ids[0], args), ole::S_OK);
    QImage image(64, 63, QImage::Format_RGB32);
    r.control->control()->render(&image);
    const std::string mouse = c.clsid == kMirtal ? "MouseInt" : "Mouse";
    EXPECT_EQ(fired, (std::vector<std::string>{mouse, mouse, "GetValue"}));
  }
}

TEST_F(KnobRegistrationTest, NamesTheKnobDoesNotHaveAreUnknown) {
  ASSERT_EQ(ole::RegisterLibrary(mirtal_), ole::S_OK);
  ASSERT_EQ(ole::RegisterLibrary(mirtalG_), ole::S_OK);
  const struct {
    std::string clsid;
    bool event;
    std::vector<std::string> names;
    ole::HRESULT code;
    std::vector<ole::DispId> ids;
  } cases[] = {
      {kMirtal, false, {"Frequency"}, ole::DISP_E_UNKNOWNNAME, {-1}},
      {kMirtal, false, {"Background"}, ole::DISP_E_UNKNOWNNAME, {-1}},
      {kMirtalG, false, {"Kind"}, ole::DISP_E_UNKNOWNNAME, {-1}},
      {kMirtalG, true, {"MouseInt"}, ole::DISP_E_UNKNOWNNAME, {-1}},
      {kMirtal, true, {"Click"}, ole::DISP_E_UNKNOWNNAME, {-1}},
      {kMirtal, false, {"Run", "Dir", "Direction"}, ole::DISP_E_UNKNOWNNAME, {10, 0, -1}},
      {kMirtal, false, {"GetValue"}, ole::DISP_E_UNKNOWNNAME, {-1}},  // an event, not a member
      {kMirtal, false, {}, ole::E_INVALIDARG, {}},
      {kMirtal, false, {"valuemirtal"}, ole::S_OK, {9}},  // case does not matter
      {kMirtalG, true, {"MOUSE", "BDOWN"}, ole::S_OK, {2, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.clsid + (c.names.empty() ? std::string("(none)") : c.names[0]));
    QWidget window;
    ole::CreateResult r = ole::CreateControlInPlace(c.clsid, &window, QRect(0, 0, 64, 63));
    ASSERT_TRUE(r) << r.reason;
    const ole::TypeInfo* info = c.event ? r.control->EventTypeInfo() : r.control->DispatchTypeInfo();
    ASSERT_NE(info, nullptr);
    std::vector<ole::DispId> ids{42};
    EXPECT_EQ(info->GetIDsOfNames(c.names, ids), c.code);
    EXPECT_EQ(ids, c.ids);
  }
  // An unknown name leaves nothing a call could reach.
  QWidget window;
  ole::CreateResult r = ole::CreateControlInPlace(kMirtal, &window, QRect(0, 0, 64, 63));
  ASSERT_TRUE(r) << r.reason;
  ole::DispId id = 0;
  EXPECT_EQ(r.control->IdOfName("Frequency", id), ole::DISP_E_UNKNOWNNAME);
  EXPECT_EQ(r.control->Put(id, std::int32_t(1)), ole::DISP_E_MEMBERNOTFOUND);
}

}  // namespace
