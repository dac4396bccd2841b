// A program killed while it saves channels leaves a channel file that reads whole: the count
// is that of the last save on disk or of the one under way, and every channel it counts is
// there as it was saved.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFileInfo>
#include <QTemporaryDir>
#include <random>
#include <string>

#include "app/memory/UchanFile.h"
#include "platform/win32/IniFile.h"
#include "tests/memory/ChanSaveLoop.h"

namespace {

std::string HelperPath() {
  char self[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  return QFileInfo(QString::fromLocal8Bit(self, n > 0 ? n : 0)).absolutePath().toStdString() + "/chan_save_loop";
}

// Runs the save loop for `ms` milliseconds, kills it, and returns the last save it reported.
int SaveForAWhileThenKill(const std::string& helper, const QString& path, int ms, int lastReported) {
  int out[2];
  if (::pipe(out) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::execl(helper.c_str(), helper.c_str(), path.toLocal8Bit().constData(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  ::usleep(useconds_t(ms) * 1000);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
  ::close(out[0]);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the loop ended on its own: " << status;
  // Lines are written whole (a few bytes to a pipe); the last complete one counts.
  const size_t end = text.rfind('\n');
  if (end == std::string::npos) return lastReported;
  const size_t start = text.rfind('\n', end - 1);
  return std::stoi(text.substr(start == std::string::npos ? 0 : start + 1, end));
}

TEST(ChanCrash, AKilledSaveLeavesTheOldChannelsOrTheNewOne) {
  const std::string helper = HelperPath();
  ASSERT_EQ(::access(helper.c_str(), X_OK), 0) << helper;
  QTemporaryDir dir;
  const QString path = dir.path() + "/Channels.ini";
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> moment(20, 250);  // the loop needs some 30 ms to start
  int onDisk = 0;
  // At least 40 kills, and on until some saves were made between them (a busy machine
  // starts the loop slowly).
  for (int kill = 0; kill < 40 || (onDisk < 20 && kill < 400); ++kill) {
    const int reported = SaveForAWhileThenKill(helper, path, moment(random), onDisk);
    const win32::IniFile file(path);
    ASSERT_TRUE(file.ReadOk());
    const int total = chanfile::ReadTotal(file);
    ASSERT_TRUE(total == reported || total == reported + 1)
        << "kill " << kill << " (seed " << seed << "): " << total << " channels, last save reported " << reported;
    for (int n = 1; n <= total; ++n) {
      const chanfile::StoredChannel expected = NumberedChannel(n);
      ASSERT_EQ(file.ReadString(chanfile::Section(n), "Name"), expected.name) << "kill " << kill << ", seed " << seed;
      ASSERT_EQ(file.ReadInteger(chanfile::Section(n), "Freq"), expected.freq) << "kill " << kill << ", seed " << seed;
    }
    onDisk = total;
  }
  EXPECT_GE(onDisk, 20) << "the saves made progress between the kills";
}

}  // namespace
