// The real program keeps the operator's settings when its run does not end as planned: the
// X server going away, and a settings file it cannot read, which it must never replace.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/win32/IniFile.h"
#include "tests/e2e/XvfbSession.h"

namespace {

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(SettingsSurvival, AChangeSurvivesTheXServerGoingAway) {
  testsupport::XvfbSession x;
  if (!x.Ok()) GTEST_SKIP() << "no Xvfb";
  QTemporaryDir config;
  const QString path = config.path() + "/PVestra/PVestra.ini";
  win32::IniFile(path).WriteString("Serial", "Port", "/nonexistent/tty");
  ASSERT_TRUE(x.StartProgram(config.path()));
  std::string window;
  for (int i = 0; i < 100 && window.empty(); ++i) {
    usleep(100 * 1000);
    window = x.Run("xdotool search --onlyvisible --name VESTRA 2>/dev/null | head -1");
  }
  ASSERT_FALSE(window.empty()) << "the main window did not appear";
  window.pop_back();
  usleep(500 * 1000);
  // УВЧ (at 133, 286, 46 x 26 in the window) is on at a first start: one click turns it off.
  x.Run("xdotool mousemove --window " + window + " 156 299 click 1");
  usleep(2500 * 1000);
  x.StopServer();
  EXPECT_TRUE(x.WaitForProgramToEnd(10000)) << "the program outlived its display";
  EXPECT_EQ(win32::IniFile(path).ReadString("TMain", "BtnUvc.Down"), "0");
}

// Starts PVestra on the offscreen platform with its standard error in a file; as root, as
// the unprivileged user "nobody", so that file permissions bind.
pid_t StartUnprivileged(const QString& configDir, const QString& errors) {
  const char* bin = getenv("PVESTRA_BIN");
  if (!bin) return -1;
  const std::string program = std::string(bin) + "/PVestra";
  const QByteArray config = configDir.toLocal8Bit(), err = errors.toLocal8Bit();
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = ::open(err.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(fd, 2);
    setenv("XDG_CONFIG_HOME", config.constData(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
    execl(program.c_str(), "PVestra", nullptr);
    _exit(127);
  }
  return pid;
}

TEST(SettingsSurvival, AFileThatCannotBeReadIsToldAndNeverReplaced) {
  QTemporaryDir config;
  const QString folder = config.path() + "/PVestra";
  const QString path = folder + "/PVestra.ini";
  ASSERT_TRUE(QDir().mkpath(folder));
  const QByteArray original = "[TMain]\r\nAttVch.Value=21\r\n[Serial]\r\nPort=/nonexistent/tty\r\n";
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(original);
  }
  ::chmod(path.toLocal8Bit().constData(), 0000);
  ::chmod(config.path().toLocal8Bit().constData(), 0777);
  ::chmod(folder.toLocal8Bit().constData(), 0777);  // a write would get through the folder
  const QString errors = config.path() + "/stderr.txt";
  const pid_t pid = StartUnprivileged(config.path(), errors);
  ASSERT_GT(pid, 0);
  usleep(3000 * 1000);  // long enough for the writes soon after a change to have come
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  ::chmod(path.toLocal8Bit().constData(), 0644);
  EXPECT_EQ(ReadAll(path), original);
  const QString told = QString::fromUtf8(ReadAll(errors));
  EXPECT_EQ(told.count("не читается"), 1) << told.toStdString();
  EXPECT_TRUE(told.contains(path)) << told.toStdString();
}

}  // namespace
