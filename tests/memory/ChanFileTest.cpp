// The channel file under bad conditions: damaged or foreign files load with the defaults, a
// save that cannot reach the disk says why and keeps the old file, and the rule that picks
// the file's folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <functional>

#include "app/memory/Uchan.h"
#include "app/memory/UchanFile.h"
#include "app/panel/Umain.h"
#include "platform/win32/IniFile.h"
#include "tests/memory/ChanFixture.h"

namespace {

class ChanFileTest : public ChanFixture {};

const QString kDefaultLine = "--- F=1000000, П=3000, ---";

// The text in UTF-16, little-endian with its byte-order mark, as some editors save it.
QByteArray Utf16(const QString& text) {
  QByteArray bytes("\xFF\xFE");
  for (QChar c : text) bytes += char(c.unicode() & 0xFF), bytes += char(c.unicode() >> 8);
  return bytes;
}

struct BadFileRow {
  const char* what;
  QByteArray bytes;
  QStringList lines;
};

TEST_F(ChanFileTest, DamagedAndForeignFilesLoadWithTheDefaults) {
  QByteArray binary;
  for (int i = 0; i < 4096; ++i) binary += char((i * 7919 + 13) & 0xFF);
  const BadFileRow rows[] = {
      {"empty", "", {}},
      {"garbled lines", "[Glo\nTotal=\x01\x02\n=3\n[Chan1\nName\n", {}},
      {"Total larger than its sections", "[Global]\nTotal=3\n[Chan2]\nName=two\nFreq=5000000\n",
       {kDefaultLine, "two F=5000000, П=3000, ---", kDefaultLine}},
      {"values that are no numbers",
       "[Global]\nTotal=1\n[Chan1]\nName=x\nFreq=7 MHz\nPolosa=\nTon=abc\nVt=1e3\ndF=0x10\nKanTLG=-\n",
       {"x F=1000000, П=3000, ---"}},
      {"a number too large for its field", "[Global]\nTotal=1\n[Chan1]\nFreq=99999999999\n", {kDefaultLine}},
      {"a Total that is no number", "[Global]\nTotal=many\n[Chan1]\nName=x\n", {}},
      {"a negative Total", "[Global]\nTotal=-4\n[Chan1]\nName=x\n", {}},
      {"binary bytes", binary, {}},
      {"UTF-16 text", Utf16("[Global]\r\nTotal=2\r\n[Chan1]\r\nName=x\r\n"), {}},
  };
  for (const auto& r : rows) {
    UseFile(r.bytes);
    EXPECT_EQ(ListLines(), r.lines) << r.what;
    EXPECT_EQ(Chan->SaveChanName->text(), "Канал №" + QString::number(r.lines.size() + 1)) << r.what;
  }
}

TEST_F(ChanFileTest, AHugeTotalIsHeldToTheMostTheMemoryKeeps) {
  UseFile("[Global]\nTotal=2000000000\n");
  EXPECT_EQ(Chan->ChannelCount, chanfile::kMaxChannels);
  EXPECT_EQ(Chan->ChanList->count(), chanfile::kMaxChannels);
  Chan->SaveChanLast->PerformClick();
  EXPECT_TRUE(TakeMessage().contains("Канал не сохранён")) << "a full memory is said";
  EXPECT_EQ(Chan->ChannelCount, chanfile::kMaxChannels);
}

TEST_F(ChanFileTest, RecallOfAGarbledChannelTunesTheDefaults) {
  UseFile("[Global]\nTotal=1\n[Chan1]\nFreq=abc\nPolosa=wide\nClass=\n");
  Chan->ChanList->Choose(0);
  // An empty class is no mode: it applies as the first class.
  EXPECT_EQ(Sent(), (std::vector<std::string>{"F:01000000", "H:03000", "H:03000", "L:00000", "E:00"}));
}

// Becomes an unprivileged user for its lifetime where the test runs as root, so that file
// permissions bind (root writes through them).
class AsNobody {
 public:
  AsNobody() {
    if (geteuid() == 0) active_ = setegid(65534) == 0 && seteuid(65534) == 0;
  }
  ~AsNobody() {
    if (active_) {
      (void)seteuid(0);
      (void)setegid(0);
    }
  }

 private:
  bool active_ = false;
};

// Lets no file grow past a few bytes while it lives: a full disk as the writer sees it.
class TinyFileLimit {
 public:
  TinyFileLimit() {
    getrlimit(RLIMIT_FSIZE, &before_);
    handler_ = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = before_;
    small.rlim_cur = 64;
    setrlimit(RLIMIT_FSIZE, &small);
  }
  ~TinyFileLimit() {
    setrlimit(RLIMIT_FSIZE, &before_);
    signal(SIGXFSZ, handler_);
  }

 private:
  struct rlimit before_ {};
  sighandler_t handler_;
};

struct FailedSaveRow {
  const char* what;
  std::function<void()> save;
  const char* reason;
};

TEST_F(ChanFileTest, ASaveThatFailsIsSaidOnceAndTheFileStaysAsItWas) {
  const QByteArray old = "[Global]\r\nTotal=2\r\n\r\n[Chan1]\r\nName=a\r\n\r\n[Chan2]\r\nName=b\r\n\r\n";
  const QString folder = files_.path();
  auto lockedFolder = [&](TPictureButton* button) {
    ::chmod(QFile::encodeName(folder).constData(), 0555);
    {
      AsNobody nobody;
      button->PerformClick();
    }
    ::chmod(QFile::encodeName(folder).constData(), 0700);
  };
  auto fullDisk = [&](TPictureButton* button) {
    TinyFileLimit limit;
    button->PerformClick();
  };
  const FailedSaveRow rows[] = {
      {"new channel, folder not writable", [&] { lockedFolder(Chan->SaveChanLast); }, "нет прав на запись"},
      {"new channel, disk full", [&] { fullDisk(Chan->SaveChanLast); }, "превышен допустимый размер файла"},
      {"overwrite, folder not writable", [&] { Chan->ChanList->SetItemIndex(1); lockedFolder(Chan->SaveChanCurrent); },
       "нет прав на запись"},
      {"erase all, folder not writable", [&] { lockedFolder(Chan->EraseAll); }, "нет прав на запись"},
  };
  for (const auto& r : rows) {
    UseFile(old);
    ::chmod(QFile::encodeName(path_).constData(), 0644);
    Chan->SaveChanName->setText("Новый");
    r.save();
    EXPECT_EQ(MessageCount(), 1) << r.what << ": said once";
    const QString message = TakeMessage();
    EXPECT_TRUE(message.contains(path_)) << r.what << ": " << message.toStdString();
    EXPECT_TRUE(message.contains(r.reason)) << r.what << ": " << message.toStdString();
    EXPECT_EQ(FileBytes(), old) << r.what;
    EXPECT_EQ(ListLines(), (QStringList{"a F=1000000, П=3000, ---", "b F=1000000, П=3000, ---"})) << r.what;
    EXPECT_EQ(Chan->ChannelCount, 2) << r.what;
    EXPECT_EQ(Chan->SaveChanNo->text(), "Как №3") << r.what;
    EXPECT_EQ(Chan->SaveChanName->text(), "Новый") << r.what << ": the typed name stays for another try";
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"Channels.ini"}) << r.what;
  }
  // Once the disk takes it again, the same save goes through.
  Chan->SaveChanLast->PerformClick();
  EXPECT_EQ(TakeMessage(), "");
  EXPECT_EQ(win32::IniFile(path_).ReadInteger("Global", "Total"), 3);
}

TEST(ChannelMemoryPath, BesideTheProgramUnlessThatFolderCannotBeWritten) {
  QTemporaryDir dir;
  const QString program = dir.path() + "/bin", config = dir.path() + "/config";
  ASSERT_TRUE(QDir().mkpath(program));
  ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
  const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME"), savedHome = qgetenv("HOME");
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
  qputenv("HOME", QFile::encodeName(dir.path()));

  EXPECT_EQ(ChannelMemoryPath(program), program + "/Channels.ini");
  EXPECT_EQ(ChannelMemoryPath(dir.path() + "/missing"), config + "/PVestra/Channels.ini");
  ::chmod(QFile::encodeName(program).constData(), 0555);
  {
    AsNobody nobody;
    EXPECT_EQ(ChannelMemoryPath(program), config + "/PVestra/Channels.ini");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(ChannelMemoryPath(program), dir.path() + "/.config/PVestra/Channels.ini");
  }
  qputenv("XDG_CONFIG_HOME", savedConfig);
  qputenv("HOME", savedHome);
}

}  // namespace
