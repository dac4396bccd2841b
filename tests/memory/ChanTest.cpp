// The memory window: its controls, the stored file byte for byte in each mode, the list lines,
// recall with the commands it sends, overwriting, erasing, and the scan settings kept between
// runs. The program runs whole, its serial link on a test receiver that collects the commands.
#include <gtest/gtest.h>

#include <functional>

#include "app/dsp/Uclass.h"
#include "app/dsp/Umparams.h"
#include "app/memory/Uchan.h"
#include "app/panel/Umain.h"
#include "platform/win32/IniFile.h"
#include "tests/memory/ChanFixture.h"

using Strings = std::vector<std::string>;

namespace {

class ChanTest : public ChanFixture {};

TEST_F(ChanTest, WindowHasItsGroupsControlsAndTexts) {
  EXPECT_EQ(Chan->size(), QSize(366, 222));
  EXPECT_EQ(Chan->windowTitle(), "Память");
  EXPECT_EQ(Chan->GroupChannel->title(), "Канал");
  EXPECT_EQ(Chan->GroupSave->title(), "Сохранение");
  EXPECT_EQ(Chan->GroupScan->title(), "Сканирование");
  EXPECT_EQ(Chan->ChanList->maxVisibleItems(), 12);
  EXPECT_FALSE(Chan->ChanList->isEditable());
  const std::pair<QLabel*, const char*> labels[] = {{Chan->Label1, "Название"}, {Chan->Label3, "Как текущий"},
                                                    {Chan->SaveChanNo, "Как №1"},  {Chan->Label6, "Стереть"},
                                                    {Chan->LblTime, "dT"},         {Chan->LblPorog, "Порог"},
                                                    {Chan->Label5, "Канал №"}};
  for (const auto& [label, text] : labels) EXPECT_EQ(label->text(), QString(text)) << label->objectName().toStdString();
  EXPECT_EQ(Chan->SaveChanName->text(), "Канал №1");

  struct Edit { TSpinEdit* edit; int min, max, step, value; const char* hint; };
  const Edit edits[] = {{Chan->Time, 200, 20000, 50, 200, "Время переключения, мс"},
                        {Chan->Porog, -70, 70, 1, 50, "Порог остановки, дБ"}};
  for (const auto& e : edits) {
    const std::string name = e.edit->objectName().toStdString();
    EXPECT_EQ(e.edit->minimum(), e.min) << name;
    EXPECT_EQ(e.edit->maximum(), e.max) << name;
    EXPECT_EQ(e.edit->singleStep(), e.step) << name;
    EXPECT_EQ(e.edit->Value(), e.value) << name;
    EXPECT_EQ(e.edit->toolTip(), QString(e.hint)) << name;
    EXPECT_TRUE(e.edit->findChild<QLineEdit*>()->isReadOnly()) << name << ": arrows only";
  }
  for (TPictureButton* b : {Chan->ScanLeft, Chan->ScanPause, Chan->ScanStop, Chan->ScanRight})
    EXPECT_EQ(b->GroupIndex(), Chan->ScanLeft->GroupIndex()) << b->objectName().toStdString();
  EXPECT_TRUE(Chan->ScanPause->Down());
  Chan->ScanRight->PerformClick();
  EXPECT_FALSE(Chan->ScanPause->Down()) << "one group: pressing one releases the others";
  Chan->ScanStop->PerformClick();
  EXPECT_FALSE(Chan->ScanRight->Down());
  EXPECT_TRUE(Chan->ScanStop->Down());
}

// One stored channel per mode. Cyrillic names and modes are Windows-1251 bytes.
struct StoreRow {
  const char* what;
  QString name;
  std::function<void()> setUp;
  QByteArray section;
  QString line;
};

TEST_F(ChanTest, SavingStoresTheModesKeysInOrderAndListsThem) {
  auto bandwidth = [](int i) { Main->BandwidthButton(i)->PerformClick(); };
  auto emissionClass = [](const char* designator, std::function<void()> parameters) {
    ClassIz->ClassName->SetItemIndex(kClassDesignators.indexOf(designator));
    parameters();
    ClassIz->ApplyClass();
  };
  const StoreRow rows[] = {
      {"AM", "Маяк", [&] { Main->TuneTo(7050300); bandwidth(2); Main->BtnAM->PerformClick(); },
       "[Chan1]\r\nName=\xCC\xE0\xFF\xEA\r\nFreq=7050300\r\nPolosa=6000\r\nClass=\xC0\xCC\r\n\r\n",
       "Маяк F=7050300, П=6000, АМ"},
      {"telegraphy", "Метео",
       [&] { Main->TuneTo(1000000); bandwidth(4); Main->SldTon->setValue(10); Main->BtnTLG->PerformClick(); },
       "[Chan1]\r\nName=\xCC\xE5\xF2\xE5\xEE\r\nFreq=1000000\r\nPolosa=1000\r\nClass=\xD2\xCB\xC3\r\nTon=1000\r\n\r\n",
       "Метео F=1000000, П=1000, ТЛГ, Т=1000"},
      {"upper sideband", "USB",
       [&] { Main->TuneTo(14200000); bandwidth(3); MParams->Sideband->SetValue(2000); Main->BtnVBP->PerformClick(); },
       "[Chan1]\r\nName=USB\r\nFreq=14200000\r\nPolosa=3000\r\nClass=\xC2\xC1\xCF\r\nSB=2000\r\n\r\n",
       "USB F=14200000, П=3000, ВБП"},
      {"lower sideband", "LSB", [&] { Main->TuneTo(3650000); bandwidth(0); Main->BtnNBP->PerformClick(); },
       "[Chan1]\r\nName=LSB\r\nFreq=3650000\r\nPolosa=12000\r\nClass=\xCD\xC1\xCF\r\nSB=1850\r\n\r\n",
       "LSB F=3650000, П=12000, НБП"},
      {"class with speed, shift, channel and tone", "RTTY",
       [&] {
         Main->TuneTo(10100000);
         bandwidth(4);
         emissionClass("F7B", [] {
           ClassIz->Vt->SetValue(100);
           ClassIz->dF->SetValue(500);
           ClassIz->Kan->SetItemIndex(1);
         });
         Main->SldTon->setValue(5);
       },
       "[Chan1]\r\nName=RTTY\r\nFreq=10100000\r\nPolosa=1000\r\nClass=F7B\r\nTon=500\r\nVt=100\r\ndF=500\r\nKanTLG=2\r\n\r\n",
       "RTTY F=10100000, П=1000, F7B, Т=500, V=100, D=500, K2"},
      {"class with the sideband only", "AM-SSB",
       [&] {
         Main->TuneTo(9500000);
         bandwidth(1);
         emissionClass("H3E", [] { ClassIz->BP->SetItemIndex(1); });
       },
       "[Chan1]\r\nName=AM-SSB\r\nFreq=9500000\r\nPolosa=8000\r\nClass=H3E\r\nOBP=\xCD\xC1\xCF\r\nSB=1850\r\n\r\n",
       "AM-SSB F=9500000, П=8000, H3E, НБП"},
      {"class with nothing enabled", "Bcast",
       [&] { Main->TuneTo(6000000); bandwidth(5); emissionClass("A3E", [] {}); },
       "[Chan1]\r\nName=Bcast\r\nFreq=6000000\r\nPolosa=500\r\nClass=A3E\r\n\r\n", "Bcast F=6000000, П=500, A3E"},
  };
  for (const auto& r : rows) {
    UseFile({});
    r.setUp();
    Chan->SaveChanName->setText(r.name);
    Chan->SaveChanLast->PerformClick();
    EXPECT_EQ(FileBytes(), r.section + "[Global]\r\nTotal=1\r\n\r\n") << r.what;
    EXPECT_EQ(ListLines(), QStringList{r.line}) << r.what;
    EXPECT_EQ(Chan->ChannelCount, 1) << r.what;
    EXPECT_EQ(Chan->SaveChanName->text(), "Канал №2") << r.what;
    EXPECT_EQ(Chan->SaveChanNo->text(), "Как №2") << r.what;
    // Reset what the rows change, so each starts from the program's defaults.
    Main->SldTon->setValue(0);
    MParams->Sideband->SetValue(1850);
    ClassIz->BP->SetItemIndex(0);
    ClassIz->Kan->SetItemIndex(0);
  }
}

TEST_F(ChanTest, AnUnfinishedKeypadEntryIsNotStored) {
  Main->TuneTo(7000000);
  for (TPictureButton* key : {Main->Btn[1], Main->Btn[2]}) key->PerformClick();  // 12 kHz typed, no ВВОД
  Chan->SaveChanLast->PerformClick();
  EXPECT_EQ(Chan->ChannelFile().ReadInteger("Chan1", "Freq"), 7000000);
}

// A file of hand-written channels, one per recall case.
const QByteArray kRecallFile =
    "[Global]\r\nTotal=8\r\n"
    "[Chan1]\r\nName=a\r\nFreq=7000000\r\nPolosa=7000\r\nClass=\xC0\xCC\r\n"
    "[Chan2]\r\nName=b\r\nFreq=3500000\r\nPolosa=2000\r\nClass=\xD2\xCB\xC3\r\nTon=1000\r\n"
    "[Chan3]\r\nName=c\r\nFreq=14200000\r\nPolosa=100\r\nClass=\xC2\xC1\xCF\r\nSB=2000\r\n"
    "[Chan4]\r\nName=d\r\nFreq=3650000\r\nPolosa=12000\r\nClass=\xCD\xC1\xCF\r\nSB=1000\r\n"
    "[Chan5]\r\nName=e\r\nFreq=10100000\r\nPolosa=1000\r\nClass=F7B\r\nTon=500\r\nVt=100\r\ndF=500\r\nKanTLG=2\r\n"
    "[Chan6]\r\nName=f\r\nFreq=5000000\r\nPolosa=3000\r\nClass=XYZ\r\n"
    "[Chan8]\r\nName=h\r\nFreq=9500000\r\nPolosa=6000\r\nClass=H3E\r\nOBP=\xCD\xC1\xCF\r\nSB=2500\r\n";

struct RecallRow {
  int index;
  const char* what;
  Strings sent;
  TPictureButton* TMain::*mode;
  const char* classShown;  // the class list's text afterwards; nullptr: not a class
};

TEST_F(ChanTest, PickingAChannelRecallsItWithEachModesCommands) {
  UseFile(kRecallFile);
  const Strings f7b = {"H:01000", "L:00500", "G:0100", "T:0500", "E:33"};
  const Strings h3e = {"H:06000", "L:00000", "e:2500", "E:13"};
  auto join = [](Strings a, const Strings& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const RecallRow rows[] = {
      {0, "AM, 7000 Hz wide recalls 8 kHz", {"F:07000000", "H:08000", "E:90", "H:08000"}, &TMain::BtnAM, nullptr},
      {1, "telegraphy, 2000 Hz recalls 3 kHz; the tone moves first",
       {"F:03500000", "H:03000", "L:01000", "L:01000", "E:91", "H:03000"}, &TMain::BtnTLG, nullptr},
      {2, "upper sideband, 100 Hz recalls 0.5 kHz",
       {"F:14200000", "H:00500", "e:2000", "e:2000", "L:02000", "E:92", "H:00500"}, &TMain::BtnVBP, nullptr},
      {3, "lower sideband", {"F:03650000", "H:12000", "e:1000", "e:1000", "L:-1000", "E:93", "H:12000"},
       &TMain::BtnNBP, nullptr},
      // The channel switch applies the class once as it moves, and recall applies it again.
      {4, "emission class", join(join({"F:10100000", "H:01000", "L:00500"}, f7b), f7b), &TMain::BtnCLASS, "F7B"},
      {5, "a class not in the list applies as the first one", {"F:05000000", "H:03000", "H:03000", "L:00000", "E:00"},
       &TMain::BtnCLASS, ""},
      {6, "a section that is missing recalls the defaults", {"F:01000000", "H:03000", "E:90", "H:03000"},
       &TMain::BtnAM, nullptr},
      {7, "emission class on the lower sideband", join(join({"F:09500000", "H:06000", "e:2500"}, h3e), h3e),
       &TMain::BtnCLASS, "H3E"},
  };
  for (const auto& r : rows) {
    Main->SldTon->setValue(0);
    MParams->Sideband->SetValue(1850);
    ClassIz->BP->SetItemIndex(0);
    ClassIz->Kan->SetItemIndex(0);
    Sent();
    Chan->ChanList->Choose(r.index);
    EXPECT_EQ(Sent(), r.sent) << r.what;
    EXPECT_EQ(Chan->CurrentChannel, r.index + 1) << r.what;
    EXPECT_TRUE((Main->*r.mode)->Down()) << r.what;
    if (r.classShown) {
      EXPECT_EQ(ClassIz->ClassNameText(), QString(r.classShown)) << r.what;
      EXPECT_EQ(Main->BtnCLASS->toolTip(), QString(r.classShown)) << r.what;
    }
  }
  EXPECT_EQ(ClassIz->Vt->Value(), 100);
  EXPECT_EQ(ClassIz->BP->ItemIndex(), 1);
  EXPECT_EQ(ClassIz->ClassName->ItemIndex(), kClassDesignators.indexOf("H3E"));
  EXPECT_EQ(Main->TunedFrequency(), 9500000);
  EXPECT_TRUE(Main->BtnPol6k->Down());
}

TEST_F(ChanTest, RecalledValuesStayInsideTheirControlsRanges) {
  UseFile("[Global]\r\nTotal=2\r\n"
          "[Chan1]\r\nFreq=99999999\r\nPolosa=-5\r\nClass=\xD2\xCB\xC3\r\nTon=9000\r\n"
          "[Chan2]\r\nFreq=-7\r\nClass=F7B\r\nVt=99999\r\ndF=1\r\nKanTLG=7\r\nSB=99999\r\n");
  Chan->ChanList->Choose(0);
  EXPECT_EQ(Sent(), (Strings{"F:30000999", "H:00500", "L:03000", "L:03000", "E:91", "H:00500"}));
  EXPECT_EQ(Main->SldTon->value(), 30);
  Chan->ChanList->Choose(1);
  const Strings sent = Sent();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.front(), "F:01000000");
  EXPECT_EQ(ClassIz->Vt->Value(), 2400);
  EXPECT_EQ(ClassIz->dF->Value(), 85);
  EXPECT_EQ(ClassIz->Kan->ItemIndex(), 1);
  EXPECT_EQ(MParams->Sideband->Value(), 4000);
}

TEST_F(ChanTest, OverwritingReplacesThePickedChannelWhole) {
  UseFile(kRecallFile);
  const QByteArray before = FileBytes();
  Chan->ChanList->SetItemIndex(-1);
  Chan->SaveChanCurrent->PerformClick();
  EXPECT_EQ(FileBytes(), before) << "nothing picked: nothing written";

  Chan->ChanList->SetItemIndex(1);  // the telegraph channel, with its tone
  Main->TuneTo(15000000);
  Main->BtnPol12k->PerformClick();
  Main->BtnAM->PerformClick();
  Chan->SaveChanName->setText("x");
  Chan->SaveChanCurrent->PerformClick();
  const win32::IniFile disk(path_);
  EXPECT_EQ(disk.Keys("Chan2"), (QStringList{"Name", "Freq", "Polosa", "Class"}));
  EXPECT_EQ(disk.ReadString("Chan2", "Freq"), "15000000");
  EXPECT_EQ(disk.ReadInteger("Global", "Total"), 8) << "overwriting keeps the count";
  EXPECT_EQ(Chan->ChanList->ItemIndex(), 1);
  EXPECT_EQ(ListLines().at(1), "x F=15000000, П=12000, АМ");
  EXPECT_EQ(ListLines().size(), 8);
}

// Another program (an editor) changed the file while the window had it open: a save merges
// into it and the list shows all of it, not only the channel saved.
TEST_F(ChanTest, ASaveIntoAFileChangedMeanwhileShowsTheOtherChanges) {
  UseFile("[Global]\r\nTotal=2\r\n[Chan1]\r\nName=a\r\n[Chan2]\r\nName=b\r\n");
  {
    win32::IniFile editor(path_);
    editor.WriteString("Chan1", "Name", "edited");
  }
  Chan->ChanList->SetItemIndex(1);
  Chan->SaveChanName->setText("c");
  Chan->SaveChanCurrent->PerformClick();
  EXPECT_EQ(ListLines(), (QStringList{"edited F=1000000, П=3000, ---", "c F=1000000, П=3000, АМ"}));
  EXPECT_EQ(win32::IniFile(path_).ReadString("Chan1", "Name"), "edited");
}

TEST_F(ChanTest, EraseAllEmptiesTheListAndStartsTheNumbersAgain) {
  UseFile(kRecallFile);
  EXPECT_EQ(Chan->SaveChanName->text(), "Канал №9");
  EXPECT_EQ(Chan->SaveChanNo->text(), "Как №9");
  Chan->ChanList->SetItemIndex(3);
  Chan->EraseAll->PerformClick();
  EXPECT_EQ(Chan->ChanList->count(), 0);
  EXPECT_EQ(Chan->ChanList->ItemIndex(), -1);
  EXPECT_EQ(Chan->ChannelCount, 0);
  EXPECT_EQ(Chan->SaveChanName->text(), "Канал №1");
  EXPECT_EQ(Chan->SaveChanNo->text(), "Как №1");
  EXPECT_EQ(win32::IniFile(path_).Sections(), QStringList{}) << FileBytes().toStdString();
  Chan->SaveChanLast->PerformClick();
  EXPECT_EQ(ListLines(), QStringList{"Канал №1 F=1000000, П=3000, АМ"});
}

TEST_F(ChanTest, TheListKeepsItsSelectionWhileItFits) {
  UseFile(kRecallFile);
  Chan->ChanList->SetItemIndex(4);
  Chan->SaveChanLast->PerformClick();
  EXPECT_EQ(Chan->ChanList->ItemIndex(), 4);
  EXPECT_EQ(Chan->ChanList->count(), 9);
  Chan->EraseAll->PerformClick();
  EXPECT_EQ(Chan->ChanList->ItemIndex(), -1) << "an index past the end selects nothing";
  Chan->SaveChanLast->PerformClick();
  EXPECT_EQ(Chan->ChanList->ItemIndex(), -1) << "nothing selected stays so";
}

TEST_F(ChanTest, ClosingStopsTheScanAndReleasesTheMainWindowsButton) {
  Main->BtnChan->PerformClick();
  ASSERT_TRUE(Main->BtnChan->Down());
  Chan->ScanRight->PerformClick();
  ASSERT_TRUE(Chan->ScanTimer->isActive());
  Chan->close();
  EXPECT_FALSE(Chan->ScanTimer->isActive());
  EXPECT_FALSE(Main->BtnChan->Down());
}

TEST_F(ChanTest, ScanSettingsAreKeptBetweenRuns) {
  Chan->Time->SetValue(1500);
  Chan->Porog->SetValue(-20);
  run_->Close();
  const win32::IniFile ini(config_.path() + "/PVestra/PVestra.ini");
  EXPECT_EQ(ini.ReadInteger("TChan", "Time.Value"), 1500);
  EXPECT_EQ(ini.ReadInteger("TChan", "Porog.Value"), -20);
  run_ = std::make_unique<testsupport::ProgramRun>(config_.path(), receiver_.SlavePath());
  EXPECT_EQ(Chan->Time->Value(), 1500);
  EXPECT_EQ(Chan->Porog->Value(), -20);
  Chan->OpenChannelFile(path_);  // for TearDown's window
}

}  // namespace
