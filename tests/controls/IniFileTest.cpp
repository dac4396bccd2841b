// The INI reader/writer: Windows-1251 on disk, atomic writes, tolerance of damaged files.
#include <gtest/gtest.h>
#include <sys/stat.h>

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
  if (geteuid() == 0) GTEST_SKIP() << "root writes through folder permissions";
  QTemporaryDir dir;
  const QString path = dir.path() + "/a.ini";
  IniFile ini(path);
  ASSERT_TRUE(ini.WriteString("S", "A", "1"));
  ::chmod(dir.path().toLocal8Bit().constData(), 0500);
  EXPECT_FALSE(ini.WriteString("S", "A", "2"));
  ::chmod(dir.path().toLocal8Bit().constData(), 0700);
  EXPECT_EQ(IniFile(path).ReadString("S", "A"), "1");
}

TEST(IniFile, MissingFolderCannotBeWrittenUnderAFile) {
  QTemporaryDir dir;
  QFile blocker(dir.path() + "/file");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  IniFile ini(dir.path() + "/file/a.ini");  // a file stands where the folder should be
  EXPECT_FALSE(ini.WriteString("S", "A", "1"));
  EXPECT_EQ(ini.ReadString("S", "A"), "1");  // kept in memory
}

}  // namespace
