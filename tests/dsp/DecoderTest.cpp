// The message window: the text of each reported character under every alphabet, appending
// at the end, the receive-mode commands, saving to a file (and failing to), and the
// settings kept between runs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include "app/dsp/Udecoder.h"
#include "app/link/Ucom.h"
#include "app/panel/Umain.h"
#include "platform/win32/IniFile.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/ProgramTest.h"
#include "tests/support/PtyReceiver.h"

using testsupport::ToStrings;
using Strings = std::vector<std::string>;

namespace {

// Runs `answer` on the next modal window (a dialog or a message box) once it is up.
void AnswerNextModal(std::function<void(QWidget*)> answer) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, answer] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      timer->stop();
      timer->deleteLater();
      answer(modal);
    }
  });
  timer->start(10);
}

QByteArray FileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

class DecoderTest : public testsupport::ProgramTest {
 protected:
  QWidget* Window() const override { return Decoder; }
  static QString Received(QAction* alphabet, std::initializer_list<uint8_t> bytes) {
    alphabet->trigger();
    Decoder->ClearClick();
    for (uint8_t b : bytes) Decoder->ReceiveCharacter(b);
    return Decoder->Editor->Text();
  }
  // A report from the receiver, read by the serial link as it would be.
  void Report(const std::string& hex) {
    receiver_.SendReport('D', hex);
    // The terminal hands the bytes over a moment later; no events run meanwhile, so the
    // link's own polling timer cannot take them first.
    for (int i = 0; i < 400 && receiver_.InputPending() < 6; ++i) usleep(2500);
    Serial.Poll();
  }

};

TEST_F(DecoderTest, CharactersUnderEachAlphabet) {
  auto& d = *Decoder;
  struct Row {
    const char* name;
    QAction* alphabet;
    std::initializer_list<uint8_t> bytes;
    QString text;
  };
  const Row rows[] = {
      {"hexadecimal", d.DecOff, {0x0A, 0xFF, 0x1F, 0x00}, "0A FF 1F 00 "},
      {"МТК-2 figure then Latin", d.MTK2, {27, 29, 31, 29}, "1Q"},
      {"МТК-2 Russian", d.MTK2, {0, 29}, "Я"},
      {"МТК-2 upper bits ignored", d.MTK2, {0x38, 27, 0x38, 31, 0x38}, "А-A"},
      {"МТК-2 CR adds nothing, LF starts a line", d.MTK2, {1, 8, 2, 27, 1, 8, 2, 0, 1}, "T\n5\nТ"},
      {"МТК-2 blank in figures", d.MTK2, {27, 3, 4, 20, 5}, "9 'Щ"},
      {"МТК-2 Russian letters", d.MTK2, {0, 15, 23, 21, 26, 30}, "ЖЬЫЙК"},
      {"МТК-5 Рус", d.MTK5RU, {0x51, 0x71, 0x41, 0x61, 0x40, 0x5F, 0x60, 0x7E}, "яЯаАюъЮЧ"},
      {"МТК-5 Рус digits, blank, 0x7F", d.MTK5RU, {0x31, 0x20, 0x2C, 0x7F, 0x3F}, "1 , ?"},
      {"МТК-5 Рус control codes", d.MTK5RU, {0x0D, 0x0A, 0x00, 0x1F}, ""},
      {"МТК-5 Рус top bit: Latin half", d.MTK5RU, {0xD1, 0xDF, 0x80, 0x9F, 0xFF}, "Q- "},
      {"МТК-5 Англ", d.MTK5EN, {0x51, 0x5F, 0xD1, 0x7E, 0x7F, 0x71}, "Q-я- q"},
      {"МТК-5 Англ control codes", d.MTK5EN, {0x0D, 0x0A, 0x8D, 0x8A}, ""},
      {"ASCII in code page 1251", d.ASCII, {0x41, 0xC0, 0xFF, 0xB8, 0x0D, 0x0A, 0x7A}, "AАяё\nz"},
  };
  for (const Row& r : rows) EXPECT_EQ(Received(r.alphabet, r.bytes), r.text) << r.name;
}

TEST_F(DecoderTest, Mtk2RegisterOutlivesAlphabetChangesAndClearing) {
  auto& d = *Decoder;
  EXPECT_EQ(Received(d.MTK2, {0}), "");
  EXPECT_EQ(Received(d.ASCII, {0x31}), "1");
  EXPECT_EQ(Received(d.MTK2, {29}), "Я");
  EXPECT_EQ(d.MTK2->actionGroup()->checkedAction(), d.MTK2);
}

TEST_F(DecoderTest, CharactersGoToTheEndWhateverIsSelected) {
  auto& d = *Decoder;
  Received(d.ASCII, {'A', 'B', 0x0A, 'C'});
  d.Editor->SelectAll();
  d.ReceiveCharacter('D');
  EXPECT_EQ(d.Editor->Text(), "AB\nCD");
  EXPECT_EQ(d.Editor->SelectedText(), "AB\nC") << "the operator's selection stays";
  d.MTK5RU->trigger();  // text already there is not converted again
  EXPECT_EQ(d.Editor->Text(), "AB\nCD");
}

TEST_F(DecoderTest, ReportsReachThePaneOnlyWhileShownAndReceiving) {
  auto& d = *Decoder;
  d.ASCII->trigger();
  Report("41");
  EXPECT_EQ(d.Editor->Text(), "") << "reception off";
  d.Recv10->trigger();
  EXPECT_EQ(Sent(), Strings{"O:3"});
  Report("42");
  d.hide();
  Report("43");
  d.show();
  EXPECT_EQ(Sent(), Strings{"O:3"});
  Report("44");
  EXPECT_EQ(d.Editor->Text(), "BD");
}

TEST_F(DecoderTest, ReceiveItemsSendTheirLengthAndShowingResendsIt) {
  auto& d = *Decoder;
  const std::pair<QAction*, std::string> items[] = {
      {d.Recv7d5, "O:1"}, {d.Recv9, "O:2"}, {d.Recv10, "O:3"}, {d.Recv11, "O:4"}, {d.RecvOFF, "O:0"}, {d.Recv9, "O:2"}};
  for (const auto& [item, sent] : items) {
    item->trigger();
    EXPECT_EQ(Sent(), Strings{sent}) << item->text().toStdString();
    EXPECT_EQ(item->actionGroup()->checkedAction(), item);
  }
  d.MTK5EN->trigger();  // alphabets send nothing
  EXPECT_TRUE(Sent().empty());
  d.QuitClick();
  EXPECT_FALSE(d.isVisible());
  EXPECT_TRUE(Sent().empty()) << "hiding sends nothing";
  d.show();
  EXPECT_EQ(Sent(), Strings{"O:2"});
}

TEST_F(DecoderTest, SavedFileIsCodePage1251WithCrLf) {
  auto& d = *Decoder;
  QTemporaryDir dir;
  const QString path = dir.path() + "/msg.txt";
  WriteBytes(path, "older and longer contents");
  d.SaveDialog->FileName = path;
  Received(d.MTK2, {0, 13, 10, 12, 25, 16, 1, 8, 2, 31, 29, 27, 29});  // ПРИВЕТ CR LF Q1
  d.SaveClick();  // the file exists: replaced without a question
  EXPECT_EQ(FileBytes(path), QByteArray("\xCF\xD0\xC8\xC2\xC5\xD2\r\nQ1"));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"msg.txt"}) << "no temporary file left";
}

TEST_F(DecoderTest, SaveWithAFileGoneAsksForANameAndAddsTheExtension) {
  auto& d = *Decoder;
  QTemporaryDir dir;
  d.SaveDialog->FileName = dir.path() + "/gone.txt";
  Received(d.ASCII, {'o', 'k'});
  QStringList filters;
  AnswerNextModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    filters = dialog->nameFilters();
    dialog->selectFile(dir.path() + "/chosen");
    static_cast<QDialog*>(dialog)->accept();  // as the operator pressing "Save"
  });
  d.SaveClick();
  EXPECT_EQ(filters, (QStringList{"Text (*.txt)", "All Files (*.*)"}));
  EXPECT_EQ(d.SaveDialog->FileName, dir.path() + "/chosen.txt");
  EXPECT_EQ(FileBytes(dir.path() + "/chosen.txt"), "ok");

  AnswerNextModal([](QWidget* modal) { modal->close(); });  // cancelled: nothing written
  Received(d.ASCII, {'n', 'o'});
  d.SaveAsClick();
  EXPECT_EQ(FileBytes(dir.path() + "/chosen.txt"), "ok");
  EXPECT_EQ(d.SaveDialog->FileName, dir.path() + "/chosen.txt");
}

// A disk that fills up during the write: the file size limit stops it even for root.
TEST_F(DecoderTest, FailedSaveSaysSoAndKeepsTheEarlierFile) {
  auto& d = *Decoder;
  QTemporaryDir dir;
  const QString path = dir.path() + "/msg.txt";
  WriteBytes(path, "earlier");
  d.SaveDialog->FileName = path;
  d.ASCII->trigger();
  d.ClearClick();
  for (int i = 0; i < 5000; ++i) d.ReceiveCharacter('x');

  QString told;
  AnswerNextModal([&](QWidget* modal) {
    if (auto* box = qobject_cast<QMessageBox*>(modal)) told = box->text();
    modal->close();
  });
  struct rlimit before {};
  getrlimit(RLIMIT_FSIZE, &before);
  const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = before;
  small.rlim_cur = 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  d.SaveClick();
  setrlimit(RLIMIT_FSIZE, &before);
  signal(SIGXFSZ, oldHandler);

  EXPECT_TRUE(told.contains(path)) << told.toStdString();
  EXPECT_EQ(FileBytes(path), "earlier");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"msg.txt"});
  EXPECT_EQ(d.Editor->CharacterCount(), 5000) << "the text stays in the window";
}

// Long runs wrap at blanks into rows no wider than the pane; a narrower pane wraps again
// without losing or adding a character, and a copy gives the text as received.
TEST(MessagePane, WrapsToItsWidthAndKeepsTheTextWhole) {
  TMessagePane pane(nullptr);
  pane.resize(300, 200);
  pane.show();
  QString text;
  for (int i = 0; i < 200; ++i) text += QString::number(i) + " ";
  text += "\nsecond line\n";
  pane.Append(text);
  pane.Append("\r\x01x");  // control characters add nothing
  const QString expected = text + "x";
  EXPECT_EQ(pane.Text(), expected);
  EXPECT_EQ(pane.CharacterCount(), expected.size());
  const int wide = pane.RowCount();
  EXPECT_GT(wide, 3);
  pane.resize(150, 200);
  EXPECT_GT(pane.RowCount(), wide);
  EXPECT_EQ(pane.Text(), expected);
  pane.SelectAll();
  pane.Copy();
  EXPECT_EQ(QApplication::clipboard()->text(), expected);
  pane.Clear();
  EXPECT_EQ(pane.Text(), "");
  EXPECT_EQ(pane.RowCount(), 1);
}

TEST(DecoderSettings, LoadedAtFirstShowingAndKeptWhenNeverShown) {
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  const QString iniPath = config.path() + "/PVestra/PVestra.ini";
  {
    win32::IniFile ini(iniPath);
    ini.WriteString("TDecoder", "Recv9.Checked", "1");
    ini.WriteString("TDecoder", "RecvOFF.Checked", "0");
    ini.WriteString("TDecoder", "MTK5RU.Checked", "1");
    ini.WriteString("TDecoder", "DecOff.Checked", "0");
    ini.WriteString("TDecoder", "SaveDialog.FileName", "/srv/радио/прием.txt");
    ini.WriteString("TDecoder", "SaveDialog.FilterIndex", "2");
  }
  {
    testsupport::ProgramRun run(config.path(), receiver.SlavePath());
    EXPECT_TRUE(Decoder->RecvOFF->isChecked()) << "not loaded before the window shows";
  }
  {
    win32::IniFile ini(iniPath);
    EXPECT_EQ(ini.ReadString("TDecoder", "Recv9.Checked"), "1") << "a window never shown keeps its settings";
    EXPECT_EQ(ini.ReadString("TDecoder", "SaveDialog.FileName"), "/srv/радио/прием.txt");
  }
  {
    testsupport::ProgramRun run(config.path(), receiver.SlavePath());
    receiver.Take(30);
    Decoder->show();
    EXPECT_EQ(ToStrings(receiver.Take(30)), Strings{"O:2"});
    EXPECT_TRUE(Decoder->MTK5RU->isChecked());
    EXPECT_FALSE(Decoder->DecOff->isChecked());
    EXPECT_EQ(Decoder->SaveDialog->FileName, "/srv/радио/прием.txt");
    EXPECT_EQ(Decoder->SaveDialog->FilterIndex, 2);
    Decoder->Recv11->trigger();
    Decoder->ASCII->trigger();
  }
  win32::IniFile ini(iniPath);
  const std::pair<const char*, const char*> saved[] = {
      {"Recv9.Checked", "0"}, {"Recv11.Checked", "1"}, {"MTK5RU.Checked", "0"},
      {"ASCII.Checked", "1"}, {"SaveDialog.FilterIndex", "2"}};
  for (auto [key, value] : saved) EXPECT_EQ(ini.ReadString("TDecoder", key), value) << key;
}

TEST(DecoderSettings, AFileWithNothingCheckedFallsBackToTheDefaults) {
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  {
    win32::IniFile ini(config.path() + "/PVestra/PVestra.ini");
    ini.WriteString("TDecoder", "RecvOFF.Checked", "0");
    ini.WriteString("TDecoder", "DecOff.Checked", "0");
  }
  testsupport::ProgramRun run(config.path(), receiver.SlavePath());
  receiver.Take(30);
  Decoder->show();
  EXPECT_EQ(ToStrings(receiver.Take(30)), Strings{"O:0"});
  Decoder->ReceiveCharacter(0x41);
  EXPECT_EQ(Decoder->Editor->Text(), "41 ");
}

}  // namespace
