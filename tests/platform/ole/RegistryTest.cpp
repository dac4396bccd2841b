// The control registry file: INI round trip, concurrent writers, ProgID ownership, and the
// reasons a container gets when a class cannot be created.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <thread>

#include "platform/ole/ControlHost.h"
#include "platform/ole/ControlRegistry.h"

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    path_ = dir_.filePath("controls.ini").toStdString();
    ole::SetRegistryPath(path_);
  }
  void TearDown() override {
    ole::SetRegistryPath("");
    ole::SetRegistryWriteFault({});
  }

  static ole::ServerRegistration Server(const std::string& suffix, const std::string& library) {
    ole::ServerRegistration s;
    s.typeLib = {"{LIB-" + suffix + "}", "1.0", 1033, "help " + suffix, "x.hlp", library};
    ole::ClassEntry c;
    c.clsid = "{CLASS-" + suffix + "}";
    c.name = "Class " + suffix;
    c.progId = "TEST." + suffix + ".1";
    c.library = library;
    c.threadingModel = "Apartment";
    c.miscStatus = 0x20191;
    c.propertyPages = {"{PAGE-" + suffix + "}"};
    s.classes = {c};
    return s;
  }

  QTemporaryDir dir_;
  std::string path_;
};

TEST_F(RegistryTest, RegisteredEntriesReadBackAndUnregisterRemovesThem) {
  ASSERT_EQ(ole::RegisterServer(Server("one", "/lib/one.so")), ole::S_OK);
  auto c = ole::FindClass("{CLASS-one}");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->library, "/lib/one.so");
  EXPECT_EQ(c->miscStatus, 0x20191u);
  EXPECT_EQ(c->propertyPages, (std::vector<std::string>{"{PAGE-one}"}));
  EXPECT_EQ(ole::ClsidFromProgId("TEST.one.1"), "{CLASS-one}");
  EXPECT_EQ(ole::FindTypeLib("{LIB-one}")->helpString, "help one");

  ASSERT_EQ(ole::UnregisterServer(Server("one", "/lib/one.so")), ole::S_OK);
  EXPECT_FALSE(ole::FindClass("{CLASS-one}"));
  EXPECT_FALSE(ole::ClsidFromProgId("TEST.one.1"));
  EXPECT_FALSE(ole::FindTypeLib("{LIB-one}"));
}

TEST_F(RegistryTest, UnregisteringLeavesAProgIdThatNowNamesAnotherClass) {
  auto first = Server("a", "/lib/a.so");
  auto second = Server("b", "/lib/b.so");
  second.classes[0].progId = first.classes[0].progId;  // b took over the name
  ASSERT_EQ(ole::RegisterServer(first), ole::S_OK);
  ASSERT_EQ(ole::RegisterServer(second), ole::S_OK);
  ASSERT_EQ(ole::UnregisterServer(first), ole::S_OK);
  EXPECT_EQ(ole::ClsidFromProgId("TEST.a.1"), "{CLASS-b}");
  EXPECT_TRUE(ole::FindClass("{CLASS-b}"));
}

TEST_F(RegistryTest, ConcurrentRegistrationsLoseNoEntry) {
  // Two writers at once (the build registers two libraries in parallel).
  auto work = [](const std::string& who) {
    for (int i = 0; i < 15; ++i)
      EXPECT_EQ(ole::RegisterServer(Server(who + std::to_string(i), "/lib/" + who + ".so")), ole::S_OK);
  };
  std::thread a(work, "a"), b(work, "b");
  a.join();
  b.join();
  for (const std::string who : {"a", "b"})
    for (int i = 0; i < 15; ++i) EXPECT_TRUE(ole::FindClass("{CLASS-" + who + std::to_string(i) + "}")) << who << i;
}

TEST_F(RegistryTest, CreationFailuresComeBackWithAReason) {
  auto broken = Server("gone", dir_.filePath("missing.so").toStdString());
  ASSERT_EQ(ole::RegisterServer(broken), ole::S_OK);
  struct Case {
    std::string clsid;
    ole::HRESULT code;
    std::string inReason;
  };
  const Case cases[] = {
      {"{NOT-REGISTERED}", ole::REGDB_E_CLASSNOTREG, "не зарегистрирован"},
      {"{CLASS-gone}", ole::CLASS_E_CLASSNOTAVAILABLE, "missing.so"},
  };
  for (const auto& c : cases) {
    ole::Control* control = nullptr;
    std::string reason;
    EXPECT_EQ(ole::CreateControl(c.clsid, &control, &reason), c.code) << c.clsid;
    EXPECT_EQ(control, nullptr);
    EXPECT_NE(reason.find(c.inReason), std::string::npos) << reason;
    EXPECT_NE(reason.find(c.clsid == "{CLASS-gone}" ? "missing.so" : c.clsid), std::string::npos) << reason;
  }
}

}  // namespace
