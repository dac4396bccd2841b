#include "app/memory/Uchan.h"

#include <QMessageBox>
#include <algorithm>

#include "app/controls/Label.h"
#include "app/dsp/Uclass.h"
#include "app/dsp/Umparams.h"
#include "app/memory/ScanButtons.h"
#include "app/memory/UchanFile.h"
#include "app/panel/Umain.h"
#include "platform/win32/IniFile.h"

TChan* Chan = nullptr;

namespace {

// The frequencies the keypad lets through; a damaged file tunes no further out.
constexpr int32_t kLowestFrequency = 1000000, kHighestFrequency = 30000999;

// The bandwidth buttons' widths in Hz, in the order of TMain::BandwidthButton.
constexpr int kBandwidthHz[6] = {12000, 8000, 6000, 3000, 1000, 500};

QGroupBox* Group(QWidget* parent, const QString& caption, QRect place) {
  auto* g = new QGroupBox(caption, parent);
  g->setGeometry(place);
  return g;
}

// The button that recall chooses for a stored bandwidth, as an index of the bandwidth buttons.
int BandwidthIndex(int polosa) {
  if (polosa <= 500) return 5;
  if (polosa <= 1000) return 4;
  if (polosa <= 3000) return 3;
  if (polosa <= 6000) return 2;
  if (polosa > 8000) return 0;
  return 1;
}

}  // namespace

TChan::TChan() : TToolWindow("TChan", "Память", {366, 222}) {
  Chan = this;
  CreateControls();
  ConnectHandlers();
  SetPersisted({"Time.Value", "Porog.Value"});
  OpenChannelFile(ChannelMemoryPath());  // FormCreate
}

TChan::~TChan() {
  ScanTimer->stop();
  if (Chan == this) Chan = nullptr;
}

void TChan::CreateControls() {
  GroupChannel = Group(this, "Канал", {4, 2, 358, 48});
  ChanList = new TComboBox(this, "ChanList", {}, -1);
  ChanList->setGeometry(10, 20, 346, 22);
  ChanList->setMaxVisibleItems(12);
  // A screen reader names a drop-down list by the caption it is the buddy of; the frame's
  // title says "Канал" on screen, this unseen caption says it to the reader.
  auto* listCaption = MakeLabel(this, "LblChanList", "Канал", {});
  listCaption->setBuddy(ChanList);
  listCaption->hide();

  GroupSave = Group(this, "Сохранение", {4, 52, 358, 78});
  Label1 = MakeLabel(this, "Label1", "Название", {10, 68, 140, 16});
  SaveChanName = new QLineEdit(this);
  SaveChanName->setObjectName("SaveChanName");
  SaveChanName->setGeometry(10, 86, 148, 22);
  Label1->setBuddy(SaveChanName);

  using Kind = TPictureButton::Kind;
  auto button = [this](const char* name, const QString& face, int centre) {
    auto* b = new TPictureButton(this, name, face, Kind::Push);
    b->setGeometry(centre - 16, 68, 32, 28);
    return b;
  };
  auto below = [this](const char* name, const QString& text, int centre, int width) {
    return MakeLabel(this, name, text, {centre - width / 2, 100, width, 16}, Qt::AlignCenter);
  };
  SaveChanCurrent = button("SaveChanCurrent", "✎", 200);
  Label3 = below("Label3", "Как текущий", 200, 76);
  SaveChanLast = button("SaveChanLast", "+", 268);
  SaveChanNo = below("SaveChanNo", "Как №", 268, 60);
  EraseAll = button("EraseAll", "✕", 326);
  Label6 = below("Label6", "Стереть", 326, 56);
  // The faces are symbols: their captions below say what they do.
  SaveChanCurrent->setAccessibleName(Label3->text());
  EraseAll->setAccessibleName(Label6->text());

  GroupScan = Group(this, "Сканирование", {4, 132, 358, 86});
  const ScanButtons scan = CreateScanButtons(this, {10, 150}, "Сканирование к меньшим номерам",
                                             "Сканирование к большим номерам");
  ScanLeft = scan.left;
  ScanPause = scan.pause;
  ScanStop = scan.stop;
  ScanRight = scan.right;
  auto edit = [this](const char* name, int min, int max, int value, int step, const QString& hint, QRect place) {
    auto* e = new TSpinEdit(this, name, min, max, value, step);
    e->setGeometry(place);
    e->SetArrowsOnly();
    e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    e->setToolTip(hint);
    return e;
  };
  LblTime = MakeLabel(this, "LblTime", "dT", {186, 153, 50, 16});
  Time = edit("Time", 200, 20000, 200, 50, "Время переключения, мс", {240, 150, 112, 22});
  LblPorog = MakeLabel(this, "LblPorog", "Порог", {186, 183, 50, 16});
  Porog = edit("Porog", -70, 70, 50, 1, "Порог остановки, дБ", {240, 180, 112, 22});
  LblTime->setBuddy(Time);
  LblPorog->setBuddy(Porog);
  Label5 = MakeLabel(this, "Label5", "Канал №", {10, 188, 150, 16});

  ScanTimer = new QTimer(this);
  ScanTimer->setObjectName("ScanTimer");
}

void TChan::ConnectHandlers() {
  ChanList->OnChange = [this] { ChanListSelect(); };
  SaveChanCurrent->OnClick = [this] { SaveChanCurrentClick(); };
  SaveChanLast->OnClick = [this] { SaveChanLastClick(); };
  EraseAll->OnClick = [this] { EraseAllClick(); };
  ScanLeft->OnClick = [this] { ScanLeftClick(); };
  ScanPause->OnClick = [this] { ScanPauseClick(); };
  ScanStop->OnClick = [this] { ScanStopClick(); };
  ScanRight->OnClick = [this] { ScanRightClick(); };
  connect(ScanTimer, &QTimer::timeout, this, [this] { ScanTimerTimer(); });
  FormClose = [this] { OnFormClose(); };
}

// ---- Channel memory -----------------------------------------------------------------------

void TChan::OpenChannelFile(const QString& path) {
  file_ = std::make_unique<win32::IniFile>(path);
  ChannelCount = chanfile::ReadTotal(*file_);
  LoadChannelList();
  SaveChanName->setText("Канал №" + QString::number(ChannelCount + 1));
  ShowNextNumber();
}

void TChan::ShowNextNumber() {
  SaveChanNo->setText("Как №" + QString::number(ChannelCount + 1));
  SaveChanLast->setAccessibleName(SaveChanNo->text());
}

void TChan::LoadChannelList() {
  const int selected = ChanList->ItemIndex();
  const QSignalBlocker quiet(ChanList);
  // The list ends as if cleared and filled again, but only the lines that differ are
  // touched: after a save that is one line, whatever the number of channels.
  while (ChanList->count() > ChannelCount) ChanList->removeItem(ChanList->count() - 1);
  QStringList added;
  for (int n = 1; n <= ChannelCount; ++n) {
    const QString line = chanfile::ListLine(*file_, n);
    if (n > ChanList->count()) added << line;
    else if (ChanList->itemText(n - 1) != line) ChanList->setItemText(n - 1, line);
  }
  ChanList->addItems(added);
  ChanList->setCurrentIndex(selected < ChanList->count() ? selected : -1);
  listReadCount_ = file_->ReadCount();
}

void TChan::LoadChannelLine(int n) {
  const int lines = ChanList->count();
  const bool replaced = n <= lines && lines == ChannelCount, appended = n == lines + 1 && n == ChannelCount;
  if (file_->ReadCount() != listReadCount_ || !(replaced || appended)) {
    LoadChannelList();  // the file may have changed anywhere
    return;
  }
  const int selected = ChanList->ItemIndex();
  const QSignalBlocker quiet(ChanList);
  const QString line = chanfile::ListLine(*file_, n);
  if (replaced) ChanList->setItemText(n - 1, line);
  else ChanList->addItem(line);
  ChanList->setCurrentIndex(selected);
}

void TChan::StoreChannel(int n) {
  chanfile::StoredChannel c;
  c.name = SaveChanName->text();
  // An unfinished keypad entry is not the receiver's setting: the tuned frequency is.
  c.freq = Main->ReceiverFrequency();
  for (int i = 0; i < 6; ++i)
    if (Main->BandwidthButton(i)->Down()) {
      c.polosa = kBandwidthHz[i];
      break;
    }
  const int tone = Main->SldTon->value() * 100;
  const int sideband = MParams->Sideband->Value();
  if (Main->BtnAM->Down()) {
    c.mode = chanfile::kAM;
  } else if (Main->BtnTLG->Down()) {
    c.mode = chanfile::kTLG;
    c.ton = tone;
  } else if (Main->BtnVBP->Down() || Main->BtnNBP->Down()) {
    c.mode = Main->BtnVBP->Down() ? chanfile::kVBP : chanfile::kNBP;
    c.sb = sideband;
  } else if (Main->BtnCLASS->Down()) {
    c.mode = ClassIz->ClassNameText();
    if (Main->SldTon->isEnabled()) c.ton = tone;
    if (ClassIz->Vt->isEnabled()) c.vt = ClassIz->Vt->Value();
    if (ClassIz->dF->isEnabled()) c.dF = ClassIz->dF->Value();
    if (ClassIz->BP->isEnabled()) {
      c.obp = ClassIz->BP->ItemIndex() == 0 ? chanfile::kVBP : chanfile::kNBP;
      c.sb = sideband;
    }
    if (ClassIz->Kan->isEnabled()) c.kanTlg = ClassIz->Kan->ItemIndex() + 1;
  }
  chanfile::Write(*file_, n, c);
  LoadChannelLine(n);
}

void TChan::RecallChannel(int n) {
  const chanfile::RecalledChannel c = chanfile::ReadForRecall(*file_, n);
  Main->TuneTo(std::clamp(c.freq, kLowestFrequency, kHighestFrequency));

  const int band = BandwidthIndex(c.polosa);
  Main->BtnPolClick(band);
  Main->BandwidthButton(band)->SetDown(true);

  auto mode = [](TPictureButton* button, void (TMain::*click)()) {
    (Main->*click)();
    button->SetDown(true);
  };
  if (c.mode == chanfile::kAM) {
    mode(Main->BtnAM, &TMain::BtnAMClick);
  } else if (c.mode == chanfile::kTLG) {
    Main->SldTon->setValue(c.ton / 100);
    mode(Main->BtnTLG, &TMain::BtnTLGClick);
  } else if (c.mode == chanfile::kVBP) {
    MParams->Sideband->SetValue(c.sb);
    mode(Main->BtnVBP, &TMain::BtnVBPClick);
  } else if (c.mode == chanfile::kNBP) {
    MParams->Sideband->SetValue(c.sb);
    mode(Main->BtnNBP, &TMain::BtnNBPClick);
  } else {
    ClassIz->ClassName->SetItemIndex(kClassDesignators.indexOf(c.mode));  // -1: none
    if (c.ton != 3001) Main->SldTon->setValue(c.ton / 100);
    if (c.sb != -1) MParams->Sideband->SetValue(c.sb);
    if (c.vt != 0) ClassIz->Vt->SetValue(c.vt);
    if (c.dF != 0) ClassIz->dF->SetValue(c.dF);
    if (!c.obp.isEmpty()) ClassIz->BP->SetItemIndex(c.obp == chanfile::kVBP ? 0 : 1);
    if (c.kanTlg != 0) ClassIz->Kan->SetItemIndex(std::clamp(c.kanTlg - 1, 0, 1));
    ClassIz->ApplyClass();
    Main->BtnCLASS->setToolTip(ClassIz->ClassNameText());
  }
}

void TChan::Tell(const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();  // modal to this window, without an event loop of its own: the scan runs on
}

bool TChan::Commit(const QString& what) {
  if (file_->Flush()) {
    // Merged into a file that another program changed: show all of it.
    if (file_->ReadCount() != listReadCount_) LoadChannelList();
    return true;
  }
  const int error = file_->LastError();
  // What the disk holds is what the operator sees: the list, the count and the next number.
  file_->DiscardChanges();
  ChannelCount = chanfile::ReadTotal(*file_);
  LoadChannelList();
  ShowNextNumber();
  Tell(what + ": не удалось записать файл\n" + file_->Path() + "\n\nПричина: " + chanfile::WriteErrorText(error) +
       ".\n\nВ файле осталось прежнее содержимое.");
  return false;
}

void TChan::SaveChanLastClick() {
  if (ChannelCount >= chanfile::kMaxChannels) {
    Tell("Канал не сохранён: в памяти уже " + QString::number(ChannelCount) + " каналов.");
    return;
  }
  win32::IniFile::Batch batch(*file_);  // the channel and the count in one write
  ++ChannelCount;
  StoreChannel(ChannelCount);
  chanfile::WriteTotal(*file_, ChannelCount);
  if (!Commit("Канал не сохранён")) return;
  SaveChanName->setText("Канал №" + QString::number(ChannelCount + 1));
  ShowNextNumber();
}

void TChan::SaveChanCurrentClick() {
  const int i = ChanList->ItemIndex();
  if (i < 0) return;
  win32::IniFile::Batch batch(*file_);
  StoreChannel(i + 1);
  Commit("Канал не сохранён");
}

void TChan::ChanListSelect() {
  CurrentChannel = ChanList->ItemIndex() + 1;
  RecallChannel(CurrentChannel);
}

void TChan::EraseAllClick() {
  {
    win32::IniFile::Batch batch(*file_);
    chanfile::EraseAll(*file_, ChannelCount);
    if (!Commit("Каналы не стёрты")) return;
  }
  ChannelCount = chanfile::ReadTotal(*file_);
  LoadChannelList();
  SaveChanName->setText("Канал №" + QString::number(ChannelCount + 1));
  ShowNextNumber();
}

void TChan::OnFormClose() {
  ScanTimer->stop();
  if (Main) Main->BtnChan->SetDown(false);
}
