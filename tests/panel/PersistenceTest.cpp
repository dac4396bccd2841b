// Settings survive a restart: closing the main window (or SIGTERM to the program) saves
// every window's values; the next start restores them as if set in code.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdlib>
#include <functional>
#include <QTemporaryDir>

#include "app/dsp/Umparams.h"
#include "app/dsp/Uregector.h"
#include "app/memory/Upanorama.h"
#include "app/panel/Umain.h"
#include "platform/win32/IniFile.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

using testsupport::ProgramRun;
using testsupport::ToStrings;
using Strings = std::vector<std::string>;

namespace {

TEST(Persistence, ValuesComeBackAndTheirActionsRun) {
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  {
    ProgramRun run(config.path(), receiver.SlavePath());
    Main->AttVch->SetValue(9);
    Main->BtnRRU->PerformClick();
    Main->SldRRU->setValue(42);
    Main->BtnTLG->PerformClick();
    Main->BtnGO->PerformClick();
    Main->TuneTo(14200300);
    Main->BtnPan->PerformClick();
    Main->BtnRegector->PerformClick();
    MParams->Sideband->SetValue(2000);
    receiver.Take(30);
  }
  ProgramRun again(config.path(), receiver.SlavePath());
  EXPECT_EQ(Main->TunedFrequency(), 14200300);
  EXPECT_EQ(Main->AttVch->Value(), 9);
  EXPECT_TRUE(Main->BtnRRU->Down());
  EXPECT_FALSE(Main->BtnARU->Down());
  EXPECT_TRUE(Main->BtnTLG->Down());
  EXPECT_FALSE(Main->BtnGO->Down());  // the stream is off at every start
  EXPECT_EQ(Main->LblRRU->text(), "ПЧ 42 дБ");
  EXPECT_TRUE(Panorama->isVisible());
  EXPECT_TRUE(Regector->isVisible());
  EXPECT_FALSE(MParams->isVisible());
  // Restoring acts as setting in code: the spin boxes and sliders that moved sent their
  // commands; buttons came back without their clicks; the notch window, reopened, was
  // not switched on and sent nothing of its own beyond its restored state.
  const Strings sent = ToStrings(receiver.Take(50));
  for (const char* expected : {"e:2000", "B:09", "C:42"})
    EXPECT_NE(std::find(sent.begin(), sent.end(), expected), sent.end()) << expected;
  for (const char* unexpected : {"E:91", "J:5", "s:0"})
    EXPECT_EQ(std::find(sent.begin(), sent.end(), unexpected), sent.end()) << unexpected;
}

TEST(Persistence, ASecondActivationRestoresNothing) {
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  ProgramRun run(config.path(), receiver.SlavePath());
  Main->AttVch->SetValue(12);
  ProgramIni().WriteString("TMain", "AttVch.Value", "3");
  Main->FormActivate();
  EXPECT_EQ(Main->AttVch->Value(), 12);
}

TEST(Persistence, GarbledOrMissingValuesLeaveTheDefaults) {
  QTemporaryDir config;
  QDir().mkpath(config.path() + "/PVestra");
  QFile f(config.path() + "/PVestra/PVestra.ini");
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("garbage line\n[TMain]\nAttVch.Value=abc\nFreqkHz.Value=\nSldNch.Position=17\n\xff\xfe\x00\x01 junk\n[TMParams\n");
  f.close();
  ProgramRun run(config.path(), "/nonexistent/tty");
  EXPECT_EQ(Main->AttVch->Value(), 0);
  EXPECT_EQ(Main->FreqkHz->Value(), 1000);
  EXPECT_EQ(Main->SldNch->value(), 17);
}

// Waits up to 10 s for process `pid` to have `path` open.
bool HoldsFile(pid_t pid, const std::string& path) {
  const QString fds = QString("/proc/%1/fd").arg(pid);
  for (int i = 0; i < 200; ++i) {
    for (const QFileInfo& fd : QDir(fds).entryInfoList(QDir::System | QDir::NoDotAndDotDot))
      if (fd.symLinkTarget().toStdString() == path) return true;
    usleep(50 * 1000);
  }
  return false;
}

// The real program, ended by SIGTERM as a desktop session or a service manager would.
TEST(Persistence, SigtermSavesLikeClosingTheWindow) {
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  {
    win32::IniFile ini(config.path() + "/PVestra/PVestra.ini");
    ini.WriteString("Serial", "Port", QString::fromStdString(receiver.SlavePath()));
    ini.WriteString("TMain", "FreqkHz.Value", "7100");
  }
  const QByteArray program = qgetenv("PVESTRA_BIN") + "/PVestra";
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    execl(program.constData(), "PVestra", nullptr);
    _exit(127);
  }
  // Once the program holds its port it is up (its settings restored) and polling: a
  // frequency report sent then must be shown and then saved.
  ASSERT_TRUE(HoldsFile(pid, receiver.SlavePath())) << "the program never opened its port";
  receiver.SendReport('F', "07150500");
  // The bytes reach the line a moment after the write; the program reads them within a
  // poll. A quiet line for 200 ms means both have happened.
  for (int quiet = 0, i = 0; quiet < 4 && i < 200; ++i) {
    usleep(50 * 1000);
    quiet = receiver.InputPending() == 0 ? quiet + 1 : 0;
  }
  ASSERT_EQ(receiver.InputPending(), 0) << "the program never read its port";
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  win32::IniFile saved(config.path() + "/PVestra/PVestra.ini");
  EXPECT_EQ(saved.ReadInteger("TMain", "FreqkHz.Value"), 7150);
  EXPECT_EQ(saved.ReadInteger("TMain", "FreqHz.Value"), 500);
  EXPECT_EQ(saved.ReadString("Serial", "Port"), QString::fromStdString(receiver.SlavePath()));
}

QString IniPath(const QTemporaryDir& config) { return config.path() + "/PVestra/PVestra.ini"; }

// Reads the file as another program would, until `done` holds of it or 5 s have passed.
bool FileSoonHolds(const QTemporaryDir& config, const std::function<bool(const win32::IniFile&)>& done) {
  for (int waited = 0; waited < 5000; waited += 100) {
    if (done(win32::IniFile(IniPath(config)))) return true;
    testsupport::Pump(100);
  }
  return false;
}

// A run that never reaches its shut-down (the X server gone, a kill, a power cut) loses at
// most the last second: changes are written soon after they happen.
TEST(Persistence, AChangeReachesTheFileSoonWithoutAShutDown) {
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  ProgramRun run(config.path(), receiver.SlavePath());
  Main->BtnUvc->PerformClick();  // УВЧ is on at a first start
  Main->AttVch->SetValue(7);
  Main->TuneTo(7100250);
  EXPECT_TRUE(FileSoonHolds(config, [](const win32::IniFile& disk) {
    return disk.ReadString("TMain", "BtnUvc.Down") == "0" && disk.ReadString("TMain", "AttVch.Value") == "7" &&
           disk.ReadString("TMain", "FreqkHz.Value") == "7100" && disk.ReadString("TMain", "FreqHz.Value") == "250";
  }));
}

// While the operator types, the displays show the digits being typed. The file keeps the
// frequency the receiver is tuned to, in the writes soon after a change and at exit, where
// the unfinished entry is dropped as if it had been cancelled.
TEST(Persistence, AnUnfinishedKeypadEntryIsNeverSavedAsTheFrequency) {
  for (const char* typed : {"5", ".", ".7", "12.", "123456"}) {
    SCOPED_TRACE(typed);
    QTemporaryDir config;
    testsupport::PtyReceiver receiver;
    {
      ProgramRun run(config.path(), receiver.SlavePath());
      Main->TuneTo(9400125);
      for (const char* c = typed; *c; ++c) Main->FormKeyPress(QChar(*c));
      Main->AttVch->SetValue(4);  // a change, so that a write comes
      EXPECT_TRUE(FileSoonHolds(config, [](const win32::IniFile& disk) {
        return disk.ReadString("TMain", "AttVch.Value") == "4";
      }));
      const win32::IniFile soon(IniPath(config));
      EXPECT_EQ(soon.ReadString("TMain", "FreqkHz.Value"), "9400");
      EXPECT_EQ(soon.ReadString("TMain", "FreqHz.Value"), "125");
    }
    const win32::IniFile atExit(IniPath(config));
    EXPECT_EQ(atExit.ReadString("TMain", "FreqkHz.Value"), "9400");
    EXPECT_EQ(atExit.ReadString("TMain", "FreqHz.Value"), "125");
  }
}

// An edit made to the file while the program runs (here by the script that points the
// serial link at a device) survives the program's writes and its exit.
TEST(Persistence, AnEditMadeWhileTheProgramRunsSurvivesItsExit) {
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  {
    ProgramRun run(config.path(), receiver.SlavePath());
    const QString script = PVESTRA_SOURCE_DIR "/scripts/set-serial-port.sh";
    const QString command = "XDG_CONFIG_HOME='" + config.path() + "' '" + script + "' /dev/ttyUSB7 >/dev/null";
    ASSERT_EQ(std::system(command.toLocal8Bit().constData()), 0);
    Main->SldNch->setValue(12);
    EXPECT_TRUE(FileSoonHolds(config, [](const win32::IniFile& disk) {
      return disk.ReadString("TMain", "SldNch.Position") == "12";
    }));
    Main->SldNch->setValue(13);
  }
  const win32::IniFile disk(IniPath(config));
  EXPECT_EQ(disk.ReadString("Serial", "Port"), "/dev/ttyUSB7");
  EXPECT_EQ(disk.ReadString("TMain", "SldNch.Position"), "13");
}

}  // namespace
