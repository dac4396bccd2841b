// The installed program as an operator's machine has it. The Debian package, packed from
// this build's output by scripts/package.sh, is installed by dpkg into a fresh root (its
// maintainer scripts run on $DPKG_ROOT instead of in a chroot); the installed PVestra,
// started as an ordinary user on a private X server, reaches the installed simulator over
// USB/IP, uploads its state and receives sample blocks; a purge leaves nothing behind.
// Also: cmake --install into a prefix registers the knobs there (not into a DESTDIR
// stage), and the desktop entry passes desktop-file-validate.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win32/IniFile.h"
#include "tests/e2e/XvfbSession.h"
#include "tests/sim/SimProcess.h"
#include "tests/support/ShellCommand.h"

namespace {

namespace fs = std::filesystem;

using testsupport::RunShell;
using Shell = testsupport::ShellResult;

std::string ShellQuote(const fs::path& path) { return testsupport::ShellQuote(path.string()); }

bool Have(const std::string& tool) { return RunShell("command -v " + tool).status == 0; }

std::string Read(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every entry under `root`, relative to it, sorted.
std::vector<std::string> Tree(const fs::path& root) {
  std::vector<std::string> entries;
  for (const auto& e : fs::recursive_directory_iterator(root)) entries.push_back(fs::relative(e.path(), root).string());
  std::sort(entries.begin(), entries.end());
  return entries;
}

std::string Lines(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& i : items) text += i + "\n";
  return text;
}

// Whether the control registry names `library` as the library of some entry.
bool Registers(const std::string& registry, const fs::path& library) {
  std::istringstream lines(registry);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "Library=" + library.string()) return true;
  }
  return false;
}

// The sample blocks the simulator says it handed over ("блоков N" in its status line).
long BlocksDelivered(const std::string& status) {
  const auto at = status.find("блоков ");
  return at == std::string::npos ? -1 : std::stol(status.substr(at + std::string("блоков ").size()));
}

// The letters the simulator logged on its USB link ("TIME usb BYTES… LETTER VALUE").
std::string UsbLettersLogged(const fs::path& log) {
  std::ifstream in(log);
  std::string letters, line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string s; words >> s;) w.push_back(s);
    if (w.size() >= 4 && w[1] == "usb" && w[w.size() - 2].size() == 1) letters += w[w.size() - 2];
  }
  return letters;
}

class InstalledPackage : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "dpkg installs into a root of its own only as root";
    for (const char* tool : {"cpack", "dpkg", "dpkg-shlibdeps", "Xvfb", "xdotool"})
      if (!Have(tool)) GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh)";
    ASSERT_TRUE(work.isValid());
    base = work.path().toStdString();
    root = base / "root";
    fs::create_directories(root / "var/lib/dpkg/info");
    fs::create_directories(root / "var/lib/dpkg/updates");
    for (const char* f : {"status", "available"}) std::ofstream(root / "var/lib/dpkg" / f);
    // The ordinary user must reach the installed programs.
    fs::permissions(base, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(root, fs::status(base).permissions());
  }

  // The fresh root holds no other package: the dependencies are the host's own libraries.
  Shell Dpkg(const std::string& arguments) {
    return RunShell("dpkg --root=" + ShellQuote(root) + " --force-script-chrootless --force-depends " + arguments);
  }

  QTemporaryDir work;
  fs::path base;
  fs::path root;
};

TEST_F(InstalledPackage, RunsAgainstTheInstalledSimulatorAndLeavesNothingWhenPurged) {
  const Shell packed = RunShell(ShellQuote(PVESTRA_SOURCE_DIR "/scripts/package.sh") + " --no-build --build-dir " +
                                 ShellQuote(PVESTRA_BUILD_DIR) + " " + ShellQuote(base / "out"));
  ASSERT_EQ(packed.status, 0) << packed.output;
  const std::string package = packed.output.substr(0, packed.output.find('\n'));
  const Shell installed = Dpkg("-i " + ShellQuote(package));
  ASSERT_EQ(installed.status, 0) << installed.output;

  // Root's tree: nobody else may write into it, so the program keeps the user's files elsewhere.
  std::vector<std::string> writable;
  for (const auto& e : fs::recursive_directory_iterator(root / "usr")) {
    struct stat st {};
    ::lstat(e.path().c_str(), &st);
    if (st.st_uid != 0 || (st.st_mode & (S_IWGRP | S_IWOTH))) writable.push_back(e.path().string());
  }
  EXPECT_TRUE(writable.empty()) << Lines(writable);

  // The post-install step registered both knobs with their installed libraries.
  const fs::path libraries = root / "usr/lib/pvestra";
  const std::string registry = Read(libraries / "controls.ini");
  for (const char* knob : {"libMirtal.so", "libMirtalG.so"})
    EXPECT_TRUE(Registers(registry, libraries / knob)) << registry;

  // The installed programs, as an ordinary user.
  ::setenv("PVESTRA_BIN", (root / "usr/bin").c_str(), 1);
  simtest::SimProcess sim({"--no-serial", "--log", "@DIR/frames.log"});
  ASSERT_TRUE(sim.started());
  const passwd* nobody = ::getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const fs::path config = base / "home";
  win32::IniFile(QString::fromStdString((config / "PVestra/PVestra.ini").string()))
      .WriteString("Usb", "Server", QString("127.0.0.1:%1").arg(sim.port()));
  for (const auto& p : {config, config / "PVestra", config / "PVestra/PVestra.ini"})
    ASSERT_EQ(::chown(p.c_str(), nobody->pw_uid, nobody->pw_gid), 0);

  testsupport::XvfbSession x;
  ASSERT_TRUE(x.Ok()) << "Xvfb did not start";
  // A search path pointing at the build's libraries must not pull them in.
  ::setenv("LD_LIBRARY_PATH", PVESTRA_BUILD_DIR "/bin", 1);
  const std::string errors = (base / "stderr.txt").string();
  ASSERT_TRUE(x.StartProgram(QString::fromStdString(config.string()),
                             {long(nobody->pw_uid), long(nobody->pw_gid), errors}));
  ::unsetenv("LD_LIBRARY_PATH");
  const std::string window = x.WaitForMainWindow();
  ASSERT_FALSE(window.empty()) << "the main window did not appear: " << Read(errors);
  std::string status;
  ASSERT_TRUE(sim.waitForStatus("USB подключено", status)) << status << "\n" << Read(errors);
  ASSERT_TRUE(sim.waitForStatus("состояние получено", status)) << status;
  x.ClickAt(window, testsupport::kSpectrumButtonCentre);
  EXPECT_TRUE(sim.waitForStatus([](const std::string& s) { return BlocksDelivered(s) >= 3; }, status)) << status;

  // Every library it loaded by name came from the installed folder.
  const std::string maps = Read("/proc/" + std::to_string(x.ProgramPid()) + "/maps");
  for (const char* library : {"libFFT.so", "libUSBKRNb.so", "libMirtal.so", "libvestra_win32.so"})
    EXPECT_NE(maps.find((libraries / library).string()), std::string::npos) << library << " not loaded from "
                                                                               << libraries;
  const auto fromBuild = maps.find(PVESTRA_BUILD_DIR);
  EXPECT_EQ(fromBuild, std::string::npos)
      << "loaded from the build tree: " << maps.substr(fromBuild, maps.find('\n', fromBuild) - fromBuild);
  x.StopProgram();
  EXPECT_EQ(Read(errors).find("недоступна"), std::string::npos) << Read(errors);

  // The simulator's frame log holds the upload (it begins with the frequency) and the stream
  // switched on.
  const std::string letters = UsbLettersLogged(fs::path(sim.directory()) / "frames.log");
  EXPECT_EQ(letters.substr(0, 1), "F") << letters;
  EXPECT_NE(letters.find('s'), std::string::npos) << letters;
  EXPECT_TRUE(fs::exists(config / "PVestra/PVestra.ini"));

  const Shell purged = Dpkg("--purge pvestra");
  ASSERT_EQ(purged.status, 0) << purged.output;
  std::vector<std::string> left;
  for (const auto& entry : Tree(root))
    if (entry != "var" && entry != "var/lib" && entry.rfind("var/lib/dpkg", 0) != 0) left.push_back(entry);
  for (const auto& entry : Tree(root / "var/lib/dpkg/info"))
    if (entry.rfind("pvestra.", 0) == 0) left.push_back(entry);
  EXPECT_TRUE(left.empty()) << Lines(left);
}

TEST(CmakeInstall, PutsProgramsAndLibrariesApartAndRegistersTheKnobs) {
  QTemporaryDir prefix;
  const fs::path p = prefix.path().toStdString();
  const Shell installed = RunShell("cmake --install " + ShellQuote(PVESTRA_BUILD_DIR) + " --prefix " + ShellQuote(p));
  ASSERT_EQ(installed.status, 0) << installed.output;
  for (const char* file : {"bin/PVestra", "bin/vestra-sim", "bin/vestra-regsvr", "lib/pvestra/libFFT.so",
                           "lib/pvestra/libUSBKRNb.so", "lib/pvestra/libMirtal.so", "lib/pvestra/libMirtalG.so",
                           "share/applications/pvestra.desktop", "share/icons/hicolor/64x64/apps/pvestra.png",
                           "share/man/man1/vestra-sim.1.gz"})
    EXPECT_TRUE(fs::exists(p / file)) << file;
  const std::string registry = Read(p / "lib/pvestra/controls.ini");
  for (const char* knob : {"libMirtal.so", "libMirtalG.so"})
    EXPECT_TRUE(Registers(registry, p / "lib/pvestra" / knob)) << registry;
}

// A staged install is not where the libraries will live: nothing is registered into it.
TEST(CmakeInstall, StagedWithDestdirRegistersNothing) {
  QTemporaryDir stage;
  const fs::path d = stage.path().toStdString();
  const Shell installed =
      RunShell("DESTDIR=" + ShellQuote(d) + " cmake --install " + ShellQuote(PVESTRA_BUILD_DIR) + " --prefix /usr");
  ASSERT_EQ(installed.status, 0) << installed.output;
  EXPECT_TRUE(fs::exists(d / "usr/lib/pvestra/libMirtal.so"));
  EXPECT_FALSE(fs::exists(d / "usr/lib/pvestra/controls.ini"));
}

TEST(DesktopEntry, PassesTheValidator) {
  if (!Have("desktop-file-validate")) GTEST_SKIP() << "desktop-file-validate is not installed";
  const Shell checked =
      RunShell("desktop-file-validate " + ShellQuote(PVESTRA_SOURCE_DIR "/packaging/pvestra.desktop"));
  EXPECT_EQ(checked.status, 0) << checked.output;
  EXPECT_EQ(checked.output, "");
}

}  // namespace
