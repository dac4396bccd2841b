#include "app/panel/Umain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QPainter>
#include <QScreen>
#include <cstdio>

#include "app/dsp/Uclass.h"
#include "app/dsp/Udebug.h"
#include "app/dsp/Udecoder.h"
#include "app/dsp/Umparams.h"
#include "app/dsp/Uregector.h"
#include "app/link/Ucmd.h"
#include "app/link/Ucom.h"
#include "app/link/Ureport.h"
#include "app/link/Uusb.h"
#include "app/memory/Uchan.h"
#include "app/controls/Label.h"
#include "app/panel/MirtalKnob.h"
#include "app/remote/RigctlServer.h"
#include "app/spectrum/Usettings.h"
#include "app/spectrum/Uwaterfall.h"
#include "platform/win32/IniFile.h"
#include "platform/win32/Library.h"
#include "platform/win32/Sync.h"

TMain* Main = nullptr;
SpectrumState Spectrum;

namespace {
std::unique_ptr<win32::IniFile> OpenIni;
}

win32::IniFile& ProgramIni() {
  if (!OpenIni) {
    const QString path = InitializationFilePath();
    OpenIni = std::make_unique<win32::IniFile>(path);
    if (!OpenIni->ReadOk())
      std::fprintf(stderr, "PVestra: файл настроек %s не читается: настройки по умолчанию, файл не будет перезаписан\n",
                   qPrintable(path));
  }
  return *OpenIni;
}

void CloseProgramIni() { OpenIni.reset(); }

namespace {

const QStringList kPersisted = {
    "AttVch.Value",       "BtnARU.Down",    "BtnRRU.Down",    "BtnUvc.Down",    "FreqkHz.Value",
    "FreqHz.Value",       "SldTon.Position", "SldRRU.Position", "BtnAvr.Down",   "BtnAM.Down",
    "BtnTLG.Down",        "BtnVBP.Down",    "BtnNBP.Down",    "BtnCLASS.Down",  "BtnPol12k.Down",
    "BtnPol8k.Down",      "BtnPol6k.Down",  "BtnPol3k.Down",  "BtnPol1k.Down",  "BtnPol0k5.Down",
    "SldNch.Position",    "BtnChan.Down",   "BtnMoreParams.Down", "BtnSetup.Down", "BtnFScan.Down",
    "BtnPan.Down",        "BtnRegector.Down"};

QSlider* MakeSlider(QWidget* parent, const char* name, int min, int max, QRect place) {
  auto* s = new QSlider(Qt::Horizontal, parent);
  s->setObjectName(name);
  s->setRange(min, max);
  s->setGeometry(place);
  s->setFocusPolicy(Qt::NoFocus);
  return s;
}

}  // namespace

TMain::TMain() : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint) {
  Main = this;
  setObjectName("TMain");
  setWindowTitle(QString::fromUtf8("РПУ \"VESTRA\""));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(625, 420);
  move(425, 242);
  QFont f("Arial");
  f.setPixelSize(13);
  f.setBold(true);
  setFont(f);
  setFocusPolicy(Qt::StrongFocus);
  CreateControls();
  ConnectHandlers();
  CreateKnob();
  storage_ = std::make_unique<TFormStorage>(this, "TMain", kPersisted);
  handle_ = win32::RegisterWindow(this, this);
  qApp->installEventFilter(this);  // key preview and the window-wide wheel

  // Creation steps.
  SerialUploadDone = false;  // a new run of the program
  FirstActivation = true;
  SpectrBG1->Picture().fill(Qt::black);
  SpectrBG2->Picture().fill(Qt::black);
  FftLibrary = LoadLibraryA("FFT.dll");
  Spectrum.FftEntry = FftLibrary ? reinterpret_cast<FftEntryPoint>(GetProcAddress(FftLibrary, "fft")) : nullptr;
  LinkKind = cmd::kLinkSerial;
  Serial.Open();
  Usb.Start(handle_, LinkMessage);
  Sleep(50);
  TimerCom->start();
}

TMain::~TMain() {
  FormDestroy();
  qApp->removeEventFilter(this);
  win32::UnregisterWindow(handle_);
  if (Main == this) Main = nullptr;
}

void TMain::CreateControls() {
  VrBorder1 = new QFrame(this);
  VrBorder1->setObjectName("VrBorder1");
  VrBorder1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  VrBorder1->setGeometry(1, 1, 623, 320);

  auto image = [this](const char* name, int x, int y, int w, int h) {
    auto* i = new TImage(this, name, QSize(w, h));
    i->move(x, y);
    return i;
  };
  SpectrData = image("SpectrData", 3, 3, 562, 20);
  LScale = image("LScale", 3, 23, 25, 240);
  Spectr = image("Spectr", 28, 23, 512, 240);
  RScale = image("RScale", 540, 23, 25, 240);
  FScale = image("FScale", 3, 263, 562, 20);
  SpectrBG2 = image("SpectrBG2", 565, 3, 56, 280);
  SpectrBG1 = image("SpectrBG1", 3, 283, 618, 35);
  SpectrData->setAccessibleName("Данные спектра");
  LScale->setAccessibleName("Шкала уровня");
  Spectr->setAccessibleName("Спектр");
  RScale->setAccessibleName("Шкала уровня");
  FScale->setAccessibleName("Шкала частоты");
  SpectrBG2->setAccessibleName("Фон панели");
  SpectrBG1->setAccessibleName("Фон панели");

  FreqkHz = new TSevenSegment(this, "FreqkHz", 5, false, 99999);
  FreqkHz->setGeometry(197, 284, 88, 32);
  FreqkHz->SetValue(1000);
  FreqHz = new TSevenSegment(this, "FreqHz", 3, true, 999);
  FreqHz->setGeometry(280, 284, 55, 32);
  FreqkHz->setAccessibleName("кГц");
  FreqHz->setAccessibleName("Гц");

  using K = TPictureButton::Kind;
  auto button = [this](const char* name, const QString& face, K kind, int group, int x, int y, int w, int h) {
    auto* b = new TPictureButton(this, name, face, kind, group);
    b->setGeometry(x, y, w, h);
    return b;
  };
  BtnARU = button("BtnARU", "АРУ", K::Group, 1, 9, 286, 46, 26);
  BtnRRU = button("BtnRRU", "РРУ", K::Group, 1, 65, 286, 46, 26);
  BtnUvc = button("BtnUvc", "УВЧ", K::Toggle, 0, 133, 286, 46, 26);
  BtnGO = button("BtnGO", "СПЕКТР", K::Toggle, 0, 354, 286, 66, 26);
  const char* polNames[6] = {"BtnPol12k", "BtnPol8k", "BtnPol6k", "BtnPol3k", "BtnPol1k", "BtnPol0k5"};
  const QString polFaces[6] = {"12 кГц", "8 кГц", "6 кГц", "3 кГц", "1 кГц", "500 Гц"};
  TPictureButton** pol[6] = {&BtnPol12k, &BtnPol8k, &BtnPol6k, &BtnPol3k, &BtnPol1k, &BtnPol0k5};
  for (int i = 0; i < 6; ++i) *pol[i] = button(polNames[i], polFaces[i], K::Group, 3, 571, 9 + 25 * i, 46, 26);
  BtnAM = button("BtnAM", "АМ", K::Group, 2, 571, 160, 46, 26);
  BtnTLG = button("BtnTLG", "ТЛГ", K::Group, 2, 571, 185, 46, 26);
  BtnVBP = button("BtnVBP", "ВБП", K::Group, 2, 571, 210, 46, 26);
  BtnNBP = button("BtnNBP", "НБП", K::Group, 2, 571, 235, 46, 26);
  BtnCLASS = button("BtnCLASS", "другие классы", K::Group, 2, 571, 260, 46, 26);
  BtnAvr = button("BtnAvr", "Уср", K::Toggle, 0, 571, 286, 46, 26);
  BtnChan = button("BtnChan", "канал", K::Toggle, 0, 571, 327, 46, 26);
  BtnMoreParams = button("BtnMoreParams", "доп парам", K::Toggle, 0, 571, 358, 46, 26);
  BtnSetup = button("BtnSetup", "настр.", K::Toggle, 0, 571, 389, 46, 26);
  BtnPan = button("BtnPan", "", K::Toggle, 0, 231, 390, 25, 25);
  BtnFScan = button("BtnFScan", "", K::Toggle, 0, 264, 390, 25, 25);
  BtnRegector = button("BtnRegector", "", K::Toggle, 0, 296, 390, 25, 25);
  BtnPan->setToolTip("Панорама");
  BtnFScan->setToolTip("Сканирование");
  BtnRegector->setToolTip("Режекторный фильтр");
  BtnARU->SetDown(true);
  BtnUvc->SetDown(true);
  BtnPol3k->SetDown(true);
  BtnAM->SetDown(true);

  const int keyX[4] = {9, 64, 119, 174};
  const int keyY[3] = {327, 358, 390};
  const int digitAt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (int i = 0; i < 8; ++i) {
    const int d = digitAt[i];
    Btn[d] = button(qPrintable(QString("Btn%1").arg(d)), QString::number(d), K::Push, 0,
                    keyX[i % 4], keyY[i / 4], 46, 25);
  }
  Btn[9] = button("Btn9", "9", K::Push, 0, 9, 390, 46, 25);
  Btn[0] = button("Btn0", "0", K::Push, 0, 64, 390, 46, 25);
  BtnDot = button("BtnDot", ".", K::Push, 0, 119, 390, 46, 25);
  BtnEnt = button("BtnEnt", "ВВОД", K::Push, 0, 174, 390, 46, 25);


  RxLabel1 = MakeLabel(this, "RxLabel1", "Атт ВЧ", {330, 342, 45, 16});
  AttVch = new TSpinEdit(this, "AttVch", 0, 45, 0, 3);
  AttVch->setGeometry(382, 338, 51, 24);
  AttVch->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  AttVch->SetArrowsOnly();
  AttVch->setAccessibleName("Атт ВЧ");
  SldTon = MakeSlider(this, "SldTon", -30, 30, {445, 341, 121, 26});
  SldTon->setAccessibleName("Тон биений");
  RxLabel2 = MakeLabel(this, "RxLabel2", "Тон биений", {450, 325, 111, 16});
  LblTon = MakeLabel(this, "LblTon", "0 дБ", {450, 295, 111, 19}, Qt::AlignCenter);
  {
    QFont f = LblTon->font();
    f.setPixelSize(16);
    LblTon->setFont(f);
    LblTon->setStyleSheet("color: #00ff00; background: transparent;");
  }
  SldRRU = MakeSlider(this, "SldRRU", 0, 99, {444, 390, 123, 26});
  SldRRU->setAccessibleName("Усиление ПЧ");
  LblRRU = MakeLabel(this, "LblRRU", "ПЧ 0 дБ", {444, 375, 117, 19}, Qt::AlignCenter);
  SldNch = MakeSlider(this, "SldNch", 0, 40, {330, 390, 106, 26});
  SldNch->setAccessibleName("Усиление НЧ");
  LblNch = MakeLabel(this, "LblNch", "НЧ 0 дБ", {335, 374, 96, 19}, Qt::AlignCenter);
  // The two captions overlap their sliders' top rows: the pointer there is on the slider.
  LblRRU->setAttribute(Qt::WA_TransparentForMouseEvents);
  LblNch->setAttribute(Qt::WA_TransparentForMouseEvents);

  TimerCom = new QTimer(this);
  TimerCom->setObjectName("TimerCom");
  TimerCom->setInterval(50);
  SaveTimer = new QTimer(this);
  SaveTimer->setObjectName("SaveTimer");
  SaveTimer->setInterval(1000);
}

void TMain::ConnectHandlers() {
  BtnARU->OnClick = [this] { BtnARUClick(); };
  BtnRRU->OnClick = [this] { BtnRRUClick(); };
  BtnAM->OnClick = [this] { BtnAMClick(); };
  BtnTLG->OnClick = [this] { BtnTLGClick(); };
  BtnVBP->OnClick = [this] { BtnVBPClick(); };
  BtnNBP->OnClick = [this] { BtnNBPClick(); };
  BtnCLASS->OnClick = [this] { BtnCLASSClick(); };
  for (int i = 0; i < 6; ++i) BandwidthButton(i)->OnClick = [this, i] { BtnPolClick(i); };
  BtnUvc->OnClick = [this] { BtnUvcClick(); };
  BtnGO->OnClick = [this] { BtnGOClick(); };
  BtnChan->OnClick = [this] { BtnChanClick(); };
  BtnMoreParams->OnClick = [this] { BtnMoreParamsClick(); };
  BtnSetup->OnClick = [this] { BtnSetupClick(); };
  BtnPan->OnClick = [this] { BtnPanClick(); };
  BtnFScan->OnClick = [this] { BtnFScanClick(); };
  BtnRegector->OnClick = [this] { BtnRegectorClick(); };
  for (auto* b : Btn) b->OnClick = [this, b] { BtnPress(b); };
  BtnDot->OnClick = [this] { BtnPress(BtnDot); };
  BtnEnt->OnClick = [this] { BtnPress(BtnEnt); };
  connect(SldRRU, &QSlider::valueChanged, this, [this] { SldRRUChange(); });
  connect(SldNch, &QSlider::valueChanged, this, [this] { SldNchChange(); });
  connect(SldTon, &QSlider::valueChanged, this, [this] { SldTonChange(); });
  connect(AttVch, &QSpinBox::valueChanged, this, [this] { AttVchChange(); });
  connect(TimerCom, &QTimer::timeout, this, [this] { TimerComTimer(); });
  connect(SaveTimer, &QTimer::timeout, this, [this] { SaveAllWindows(); });
  Spectr->OnMouseDown = [this](Qt::MouseButton button, QPoint at) {
    SpectrumPictures pictures = Pictures();
    if (SpectrMouseDown(Spectrum, button, at.x(), SpectrumInputs(), pictures)) SpectrumShown();
  };
}

void TMain::CreateKnob() {
  std::string reason;
  Mirtal = TMirtalKnob::Create(this, [this] { MirtalGetValue(); }, &reason);
  if (!Mirtal) {
    // The program runs on without it: the keypad and the keyboard still tune.
    static bool told = false;
    if (!told) std::fprintf(stderr, "PVestra: ручка настройки недоступна: %s\n", reason.c_str());
    told = true;
  }
}

TPictureButton* TMain::BandwidthButton(int index) const {
  TPictureButton* const all[6] = {BtnPol12k, BtnPol8k, BtnPol6k, BtnPol3k, BtnPol1k, BtnPol0k5};
  return index >= 0 && index < 6 ? all[index] : nullptr;
}

// ---- Lifecycle --------------------------------------------------------------------------

bool TMain::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) FormActivate();
  return QWidget::event(e);
}

void TMain::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  // The first showing counts as the first activation also where the platform sends no
  // activation (an offscreen or minimised start).
  FormActivate();
}

void TMain::FormActivate() {
  if (!FirstActivation) return;
  FirstActivation = false;
  RenderSpectrum();
  win32::IniFile& ini = ProgramIni();
  for (TToolWindow* w : std::initializer_list<TToolWindow*>{SettingsWindow, MParams, ClassIz, Chan, Regector})
    if (w && w->Storage()) w->Storage()->Restore(ini);
  storage_->Restore(ini);
  BtnFScanClick();
  BtnChanClick();
  BtnMoreParamsClick();
  BtnSetupClick();
  BtnPanClick();
  if (BtnCLASS->Down()) BtnCLASSClick();
  BtnRegectorClick();
  if (Waterfall) Waterfall->ReopenAtStart();
  activateWindow();
  setFocus();
  if (ClassIz) BtnCLASS->setToolTip(ClassIz->ClassNameText());
  SaveTimer->start();  // only now: before the restore, the controls hold mere defaults
  Remote = RigctlServer::Start(*this, ini);  // clients find the restored state
}

void TMain::closeEvent(QCloseEvent* e) {
  SaveTimer->stop();
  CancelKeypadEntry();
  SaveAllWindows();
  e->accept();
  FormDestroy();
  // Closing the main window ends the program, tool windows included.
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != this) w->hide();
  QApplication::quit();
}

void TMain::SaveAllWindows() {
  if (FirstActivation) return;  // nothing restored yet: the file still holds the truth
  win32::IniFile& ini = ProgramIni();
  // Compared with the file as it is now, so a key of ours that another program changed is
  // written back, and the keys that are not ours stay as they are.
  ini.Reload();
  win32::IniFile::Batch batch(ini);
  for (const TFormStorage* s : TFormStorage::All()) s->Save(ini);
  const int32_t f = ReceiverFrequency();
  ini.WriteInteger(storage_->Section(), "FreqkHz.Value", f / 1000);
  ini.WriteInteger(storage_->Section(), "FreqHz.Value", f % 1000);
}

void TMain::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  Remote.reset();
  TimerCom->stop();
  if (FftLibrary) {
    Spectrum.FftEntry = nullptr;
    FreeLibrary(FftLibrary);
    FftLibrary = nullptr;
  }
  Serial.Close();
  Usb.Stop();
  Sleep(50);
}

void TMain::TimerComTimer() { Serial.Poll(); }

void TMain::Dispatch(UINT message, WPARAM wParam, LPARAM) {
  if (message == LinkMessage) HandleLinkMessage(int(wParam));
}

void TMain::UploadState() {
  SendCommand(cmd::Frequency, TunedFrequency());
  if (BtnAM->Down()) BtnAMClick();
  else if (BtnTLG->Down()) BtnTLGClick();
  else if (BtnVBP->Down()) BtnVBPClick();
  else if (BtnNBP->Down()) BtnNBPClick();
  else if (BtnCLASS->Down() && ClassIz) ClassIz->ApplyClass();
  ReissueBandwidth();
  SendCommand(cmd::LfBand, MParams->PolNch->ItemIndex());
  SendCommand(cmd::FilterShape, MParams->FormaAchh->ItemIndex());
  if (BtnARU->Down()) BtnARUClick();
  else if (BtnRRU->Down()) BtnRRUClick();
  SendCommand(cmd::Attenuator, AttVch->Value());
  SendCommand(cmd::LfGain, SldNch->value());
  SendCommand(cmd::Reference, MParams->Opora->ItemIndex());
  MParams->KSClick();
  BtnUvcClick();
  SendCommand(cmd::TlgShaper, MParams->FTlg->ItemIndex());
  SendCommand(cmd::NoiseSuppression, MParams->ShpOn->ItemIndex());
  SendCommand(cmd::NoiseTau, MParams->TauShpTenths());
  SendCommand(cmd::NoiseThreshold, MParams->PorogShp->Value());
  MParams->KSNchClick();
  if (Decoder) Decoder->SendReceiveMode();
  if (Regector) Regector->ApplyNotch();
}
