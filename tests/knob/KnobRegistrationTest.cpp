// The built knob libraries in the control registry: self-registration, creation by class id
// through the container's side, unregistration, and the two registration errors.

#include <gtest/gtest.h>

#include <QApplication>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <filesystem>

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

}  // namespace
