// The DSP program loader against a scripted USB device: the packets each file gives, byte
// for byte, the progress bar, the refused files, and the loader's settings.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include "app/dsp/Utms.h"
#include "app/panel/Umain.h"
#include "platform/win32/IniFile.h"
#include "tests/dsp/LinkedProgramTest.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

using Bytes = std::vector<uint8_t>;
using testsupport::PumpUntil;

namespace {

// A program file: two unused bytes, N little-endian, then `body` bytes counting 1, 2, 3, …
// (never 0, so padding shows), in all `size` bytes.
Bytes ProgramFileBytes(int n, size_t size) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = uint8_t(i % 251 + 1);
  if (size > 2) b[2] = uint8_t(n & 0xFF);
  if (size > 3) b[3] = uint8_t(n >> 8);
  return b;
}

// Runs `act` and answers the first message box it opens; returns that box's text.
QString AnswerMessageBox(const std::function<void()>& act) {
  QString text;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      text = box->text();
      box->done(QMessageBox::Ok);
    }
  });
  poll.start(10);
  act();
  return text;
}

class TmsTest : public LinkedProgramTest {
 protected:
  void Start(bool plugged) {
    LinkedProgramTest::Start(plugged);
    Tms->show();
  }

  QString WriteFile(const QString& name, const Bytes& bytes) {
    const QString path = QDir(files_.path()).filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    return path;
  }

  // Loads the file and returns what went to the USB device.
  std::vector<Bytes> Load(const QString& path) {
    Tms->Filename->SetText(path);
    Tms->LoadClick();
    return usb_.Writes();
  }

  QTemporaryDir files_;
};

struct PacketRow {
  const char* name;
  int n;            // the length field
  size_t fileSize;  // bytes in the file
  std::string letters;
  std::vector<int> words;
  int barMaximum;   // W
};

TEST_F(TmsTest, EachFileGivesItsPacketsByteForByte) {
  Start(true);
  const PacketRow rows[] = {
      {"N 100: W 28", 100, 4 + 4 * 28, "abbc", {8, 8, 8, 4}, 28},
      {"N 0: 'a' carries 8 words all the same, then 'c' none", 0, 40, "ac", {8, 0}, 3},
      {"N 68: W 20", 68, 4 + 4 * 20, "abc", {8, 8, 4}, 20},
      {"N 52: W 16, no middle packet", 52, 4 + 4 * 16, "ac", {8, 8}, 16},
      {"N 55 rounds down: W 16", 55, 4 + 4 * 16, "ac", {8, 8}, 16},
      {"N 100 in a 20-byte file: padded with zeros", 100, 20, "abbc", {8, 8, 8, 4}, 28},
      {"N 100 in a longer file: the rest is not sent", 100, 300, "abbc", {8, 8, 8, 4}, 28},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const Bytes file = ProgramFileBytes(r.n, r.fileSize);
    const std::vector<Bytes> packets = Load(WriteFile("p.bin", file));
    ASSERT_EQ(packets.size(), r.letters.size());
    size_t at = 4;  // where the next program byte comes from in the file
    for (size_t i = 0; i < packets.size(); ++i) {
      const Bytes& p = packets[i];
      ASSERT_EQ(p.size(), 64u);
      EXPECT_EQ(p[0], 0x02);
      EXPECT_EQ(p[1], r.letters[i]) << "packet " << i;
      const size_t k = size_t(r.words[i]);
      EXPECT_EQ(p[2], k) << "packet " << i;
      for (size_t j = 0; j < 4 * k; ++j, ++at)
        ASSERT_EQ(p[3 + j], at < file.size() ? file[at] : 0) << "packet " << i << " byte " << 3 + j;
      EXPECT_EQ(p[3 + 4 * k], 0x03) << "packet " << i;
      EXPECT_EQ(Bytes(p.begin() + 4 + 4 * k, p.end()), Bytes(60 - 4 * k, 0)) << "packet " << i;
    }
    EXPECT_EQ(Tms->Progress->maximum(), r.barMaximum);
    EXPECT_EQ(Tms->Progress->value(), r.barMaximum);
  }
  EXPECT_TRUE(receiver_.Take(30).empty()) << "nothing goes over the serial link";
}

TEST_F(TmsTest, TheLastPacketOfN100EndsAtByte19) {
  Start(true);
  const std::vector<Bytes> packets = Load(WriteFile("p.bin", ProgramFileBytes(100, 116)));
  ASSERT_EQ(packets.size(), 4u);
  EXPECT_EQ(packets[3][19], 0x03);
  EXPECT_EQ(packets[0][35], 0x03);
}

TEST_F(TmsTest, TheBarIsRepaintedAtEachStepUnderABusyCursor) {
  Start(true);
  const QString path = WriteFile("p.bin", ProgramFileBytes(100, 116));
  std::vector<int> painted;
  bool busy = true;
  struct PaintWatch : QObject {
    std::vector<int>* painted;
    bool* busy;
    bool eventFilter(QObject* o, QEvent* e) override {
      if (e->type() != QEvent::Paint) return false;
      painted->push_back(Tms->Progress->value());
      const QCursor* cursor = QApplication::overrideCursor();
      *busy = *busy && cursor && cursor->shape() == Qt::WaitCursor;
      return false;
    }
  } watch;
  watch.busy = &busy;
  watch.painted = &painted;
  testsupport::Pump(50);
  Tms->Progress->installEventFilter(&watch);
  Tms->Filename->SetText(path);
  Tms->LoadClick();
  Tms->Progress->removeEventFilter(&watch);
  // The bar is drawn at each step while the transfer runs, without the event loop.
  painted.erase(std::unique(painted.begin(), painted.end()), painted.end());
  EXPECT_EQ(painted, (std::vector<int>{8, 16, 24, 28}));
  EXPECT_TRUE(busy) << "the cursor shows busy while the transfer runs";
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(TmsTest, WithUsbDisconnectedTheBarRunsToTheEndAndNothingIsSent) {
  Start(false);
  EXPECT_EQ(Main->LinkKind, 1);
  Load(WriteFile("p.bin", ProgramFileBytes(100, 116)));
  EXPECT_EQ(Tms->Progress->maximum(), 28);
  EXPECT_EQ(Tms->Progress->value(), 28);
  EXPECT_TRUE(usb_.Writes().empty());
  EXPECT_TRUE(receiver_.Take(30).empty());
}

TEST_F(TmsTest, RefusedFilesAreToldAndNothingIsSent) {
  Start(true);
  QDir(files_.path()).mkdir("folder.bin");
  struct Row {
    const char* name;
    QString path;
    QString told;  // a part of the message; empty: nothing is told
  };
  const Row rows[] = {
      {"longer than 65536 bytes", WriteFile("long.bin", ProgramFileBytes(100, 65537)), "длиннее 65536 байт"},
      {"N 65524 reaches past the buffer", WriteFile("n.bin", ProgramFileBytes(65524, 65536)), "(65524)"},
      {"N 65535 in a short file", WriteFile("short.bin", ProgramFileBytes(65535, 8)), "(65535)"},
      {"exists but cannot be read", QDir(files_.path()).filePath("folder.bin"), "Не удалось прочитать"},
      {"no such file", QDir(files_.path()).filePath("missing.bin"), ""},
      {"empty name", "", ""},
  };
  Load(WriteFile("p.bin", ProgramFileBytes(0, 40)));
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    Tms->Filename->SetText(r.path);
    const QString told = AnswerMessageBox([] { Tms->LoadClick(); });
    if (r.told.isEmpty()) EXPECT_TRUE(told.isEmpty()) << told.toStdString();
    else EXPECT_TRUE(told.contains(r.told)) << told.toStdString();
    EXPECT_TRUE(usb_.Writes().empty());
    EXPECT_EQ(Tms->Progress->maximum(), 3) << "the bar keeps the last load";
    EXPECT_EQ(Tms->Progress->value(), 3);
  }
  EXPECT_TRUE(receiver_.Take(30).empty());
}

TEST_F(TmsTest, TheLargestProgramFillsTheBufferExactly) {
  Start(true);
  const Bytes file = ProgramFileBytes(65523, 65536);
  const std::vector<Bytes> packets = Load(WriteFile("max.bin", file));
  ASSERT_EQ(packets.size(), 2048u);  // a, 2046 × b, c
  EXPECT_EQ(packets.back()[1], 'c');
  EXPECT_EQ(packets.back()[2], 7);
  EXPECT_EQ(Bytes(packets.back().begin() + 3, packets.back().begin() + 31), Bytes(file.end() - 28, file.end()));
}

TEST_F(TmsTest, CtrlLInTheMainWindowShowsTheLoader) {
  Start(false);
  Tms->hide();
  Main->FormKeyPress(QChar(12));
  EXPECT_TRUE(Tms->isVisible());
}

TEST(TmsSettings, FileNameIsReadWhenFirstShownAndKeptWhenNeverShown) {
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  const QString name = "/опыт/программа.bin";
  {
    testsupport::ProgramRun run(config.path(), receiver.SlavePath());
    ProgramIni().WriteString("TTms", "Filename.Text", name);
    ProgramIni().WriteInteger("TTms", "Filename.FilterIndex", 2);
  }
  {
    testsupport::ProgramRun run(config.path(), receiver.SlavePath());
    EXPECT_EQ(Tms->Filename->Text(), "") << "read only when first shown";
  }
  EXPECT_EQ(win32::IniFile(InitializationFilePath()).ReadString("TTms", "Filename.Text"), name)
      << "a run that never showed it keeps it";
  {
    testsupport::ProgramRun run(config.path(), receiver.SlavePath());
    Tms->show();
    EXPECT_EQ(Tms->Filename->Text(), name);
    EXPECT_EQ(Tms->Filename->FilterIndex(), 2);
    EXPECT_EQ(Tms->Filename->DialogFilters(), (QStringList{"Program files(*.bin)", " All files (*.*)"}));
    Tms->Filename->SetText("/tmp/b.bin");
    Tms->Filename->OnChange();
  }
  EXPECT_EQ(win32::IniFile(InitializationFilePath()).ReadString("TTms", "Filename.Text"), "/tmp/b.bin");
}

}  // namespace
