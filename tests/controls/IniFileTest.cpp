// The INI reader/writer: Windows-1251 on disk, atomic writes, tolerance of damaged files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/win32/Cp1251.h"
#include "platform/win32/IniFile.h"

using win32::IniFile;

namespace {

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

void Chmod(const QString& path, mode_t mode) { ::chmod(path.toLocal8Bit().constData(), mode); }

// Runs `check` where file permissions bind: as root, in a child process that has become
// the unprivileged user "nobody" (root reads and writes through any permission).
bool WherePermissionsBind(const std::function<bool()>& check) {
  if (geteuid() != 0) return check();
  const pid_t child = fork();
  if (child == 0) {
    const bool ok = setgid(65534) == 0 && setuid(65534) == 0 && check();
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(IniFile, CyrillicIsStoredAsWindows1251AndReadBack) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/a.ini";
  IniFile ini(path);
  ASSERT_TRUE(ini.WriteString("Канал1", "Name", "Маяк «Ё» №1"));
  const QByteArray raw = ReadAll(path);
  EXPECT_TRUE(raw.contains("\xCA\xE0\xED\xE0\xEB" "1"));  // "Канал" in cp1251
  EXPECT_FALSE(raw.contains("\xD0"));                    // no UTF-8 lead bytes
  IniFile again(path);
  EXPECT_EQ(again.ReadString("Канал1", "Name"), "Маяк «Ё» №1");
  EXPECT_EQ(win32::DecodeCp1251(win32::EncodeCp1251("日本")), "??");
}

// What one reading gives must come back the same after it is written and read again.
TEST(IniFile, ValuesReadSurviveBeingWrittenAndReadAgain) {
  struct Case {
    const char* file;
    const char* value;  // Windows-1251
  };
  const Case cases[] = {
      {"[A]\nk=a\x98z\n", "a\x98z"},         // the one byte with no character of its own
      {"[A]\nk=a\rz=1\n", "a"},               // a lone CR ends the line like LF does
      {"[A]\r\nk=\xC0\xFF\r\n", "\xC0\xFF"},  // CR LF
  };
  for (const auto& c : cases) {
    QTemporaryDir dir;
    WriteAll(dir.path() + "/in.ini", c.file);
    const QString value = IniFile(dir.path() + "/in.ini").ReadString("A", "k");
    EXPECT_EQ(value, win32::DecodeCp1251(c.value)) << c.file;
    ASSERT_TRUE(IniFile(dir.path() + "/out.ini").WriteString("A", "k", value));
    EXPECT_EQ(IniFile(dir.path() + "/out.ini").ReadString("A", "k"), value) << c.file;
    EXPECT_TRUE(ReadAll(dir.path() + "/out.ini").contains(QByteArray("k=") + c.value + "\r\n")) << c.file;
  }
}

TEST(IniFile, IntegersAreDecimalAndGarbageIsNothing) {
  QTemporaryDir dir;
  IniFile ini(dir.path() + "/a.ini");
  ini.WriteInteger("S", "A", -42);
  ini.WriteString("S", "B", "12x");
  ini.WriteString("S", "C", " 7 ");
  EXPECT_EQ(ini.ReadInteger("S", "A"), -42);
  EXPECT_EQ(ini.ReadInteger("S", "B"), std::nullopt);
  EXPECT_EQ(ini.ReadInteger("S", "C"), 7);
  EXPECT_EQ(ini.ReadInteger("S", "Missing"), std::nullopt);
  EXPECT_EQ(ini.ReadInteger("Missing", "A"), std::nullopt);
}

TEST(IniFile, DamagedFileReadsWhatCanBeRead) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/a.ini";
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  static const char damaged[] = "key=before any section\n[S]\r\nA=1\n=novalue\nnoequals\n[T\n\x00\x01\x02=3\n[s]\nB=2\nA=9\n";
  f.write(damaged, sizeof damaged - 1);
  f.close();
  IniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("S", "A"), 1);  // the first of a repeated key wins
  EXPECT_EQ(ini.ReadInteger("S", "B"), 2);  // sections are matched without case
  EXPECT_EQ(ini.Sections(), QStringList{"S"});
}

TEST(IniFile, WritesAtOnceWithoutLeavingTemporaryFiles) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/sub/a.ini";
  IniFile ini(path);
  ini.WriteString("S", "A", "1");
  EXPECT_TRUE(ReadAll(path).contains("A=1"));
  {
    IniFile::Batch batch(ini);
    ini.WriteString("S", "A", "2");
    ini.WriteString("S", "B", "3");
    EXPECT_TRUE(ReadAll(path).contains("A=1"));  // deferred to the end of the batch
  }
  EXPECT_TRUE(ReadAll(path).contains("A=2"));
  EXPECT_TRUE(ReadAll(path).contains("B=3"));
  EXPECT_EQ(QDir(dir.path() + "/sub").entryList(QDir::Files), QStringList{"a.ini"});
  ini.WriteString("S", "A", "line\nbreak");
  EXPECT_EQ(IniFile(path).ReadString("S", "A"), "line break");
}

TEST(IniFile, UnwritableFolderIsReportedAndTheOldFileKept) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/a.ini";
  WriteAll(path, "[S]\r\nA=1\r\n");
  Chmod(path, 0644);
  Chmod(dir.path(), 0555);
  EXPECT_TRUE(WherePermissionsBind([&] {
    IniFile ini(path);
    return ini.ReadOk() && !ini.WriteString("S", "A", "2") && ini.ReadString("S", "A") == "2";
  }));
  Chmod(dir.path(), 0700);
  EXPECT_EQ(IniFile(path).ReadString("S", "A"), "1");
}

TEST(IniFile, AFileThatCannotBeReadIsNeverWrittenOver) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/a.ini";
  WriteAll(path, "[S]\r\nA=1\r\n");
  Chmod(path, 0000);
  Chmod(dir.path(), 0777);  // the folder would let a write through
  EXPECT_TRUE(WherePermissionsBind([&] {
    IniFile ini(path);
    const bool readsAsEmpty = !ini.ReadOk() && !ini.KeyExists("S", "A");
    const bool refused = !ini.WriteString("S", "B", "2") && !ini.Flush();
    return readsAsEmpty && refused && ini.ReadString("S", "B") == "2";  // kept in memory
  }));
  Chmod(path, 0644);
  EXPECT_EQ(ReadAll(path), "[S]\r\nA=1\r\n");
}

TEST(IniFile, WritesWaitingOnAnUnreadableFileLandWhenItCanBeReadAgain) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/a.ini";
  WriteAll(path, "[S]\r\nA=1\r\n");
  Chmod(dir.path(), 0777);
  if (geteuid() == 0) ::chown(path.toLocal8Bit().constData(), 65534, 65534);  // nobody's file
  EXPECT_TRUE(WherePermissionsBind([&] {
    Chmod(path, 0000);
    IniFile ini(path);
    const bool refused = !ini.WriteString("S", "B", "2");
    Chmod(path, 0644);
    return refused && ini.WriteString("S", "C", "3");
  }));
  const IniFile after(path);
  EXPECT_EQ(after.ReadString("S", "A"), "1");
  EXPECT_EQ(after.ReadString("S", "B"), "2");
  EXPECT_EQ(after.ReadString("S", "C"), "3");
}

// Two writers of one file (the program and a script, or two windows' stores): each write
// replaces only the keys its writer changed, whatever the other wrote in between.
TEST(IniFile, EachWriteMergesIntoWhatIsOnDiskNow) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/a.ini";
  IniFile program(path);
  program.WriteString("TMain", "AttVch.Value", "3");
  program.WriteString("Old", "K", "1");
  program.WriteString("TMain", "Gone", "x");

  IniFile script(path);
  script.WriteString("Serial", "Port", "/dev/ttyUSB0");
  script.WriteString("TMain", "AttVch.Value", "9");  // a key both write: the later write wins

  {
    IniFile::Batch batch(program);
    program.WriteString("TMain", "SldNch.Position", "17");
    program.DeleteKey("TMain", "Gone");
    program.EraseSection("Old");
    program.WriteString("Old", "New", "2");  // erased, then written again
  }
  const IniFile disk(path);
  EXPECT_EQ(disk.ReadString("Serial", "Port"), "/dev/ttyUSB0");
  EXPECT_EQ(disk.ReadString("TMain", "AttVch.Value"), "9");
  EXPECT_EQ(disk.ReadString("TMain", "SldNch.Position"), "17");
  EXPECT_FALSE(disk.KeyExists("TMain", "Gone"));
  EXPECT_FALSE(disk.KeyExists("Old", "K"));
  EXPECT_EQ(disk.ReadString("Old", "New"), "2");
  // The program's own copy now shows the script's keys too.
  EXPECT_EQ(program.ReadString("Serial", "Port"), "/dev/ttyUSB0");
}

TEST(IniFile, MissingFolderCannotBeWrittenUnderAFile) {
  QTemporaryDir dir;
  QFile blocker(dir.path() + "/file");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  IniFile ini(dir.path() + "/file/a.ini");  // a file stands where the folder should be
  EXPECT_EQ(ini.LastError(), 0) << "a file that does not exist reads as empty";
  EXPECT_FALSE(ini.WriteString("S", "A", "1"));
  EXPECT_EQ(ini.LastError(), ENOTDIR) << "why it failed";
  EXPECT_EQ(ini.ReadString("S", "A"), "1");  // kept in memory
  ini.DiscardChanges();
  EXPECT_FALSE(ini.KeyExists("S", "A")) << "dropped: what the disk holds, nothing";
}

// A write merges into the file as it is on disk, also when another program rewrote it in
// place (same file, new content) rather than replacing it.
TEST(IniFile, AnEditInPlaceBetweenWritesIsMerged) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/a.ini";
  IniFile program(path);
  program.WriteString("S", "A", "1");
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite | QIODevice::Append));
    f.write("B=2\r\n");
  }
  program.WriteString("S", "C", "3");
  const IniFile disk(path);
  EXPECT_EQ(disk.ReadString("S", "A"), "1");
  EXPECT_EQ(disk.ReadString("S", "B"), "2");
  EXPECT_EQ(disk.ReadString("S", "C"), "3");
}

}  // namespace
