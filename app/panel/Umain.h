// The main window TMain: the receiver's front panel with its spectrum display, and the hub
// of the program. It owns both links, holds LinkKind and the tuned frequency (its two
// numeric displays), and performs the full-state upload.
#pragma once

#include <QLabel>
#include <QSlider>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "app/controls/FormStorage.h"
#include "app/controls/ImageControl.h"
#include "app/controls/PictureButton.h"
#include "app/controls/SevenSegment.h"
#include "app/controls/SpinEdit.h"
#include "app/panel/Knob.h"
#include "app/spectrum/Uspectr.h"
#include "platform/win32/Message.h"

namespace win32 {
class IniFile;
}

class TMain : public QWidget, public win32::MessageTarget {
  Q_OBJECT
 public:
  TMain();
  ~TMain() override;

  // ---- Controls, in the order of the window's layout.
  QFrame* VrBorder1;
  TImage* SpectrData;
  TImage* LScale;
  TImage* Spectr;
  TImage* RScale;
  TImage* FScale;
  TImage* SpectrBG2;
  TImage* SpectrBG1;
  TSevenSegment* FreqkHz;
  TSevenSegment* FreqHz;
  TPictureButton* BtnARU;
  TPictureButton* BtnRRU;
  TPictureButton* BtnUvc;
  TPictureButton* BtnGO;
  TPictureButton* BtnPol12k;
  TPictureButton* BtnPol8k;
  TPictureButton* BtnPol6k;
  TPictureButton* BtnPol3k;
  TPictureButton* BtnPol1k;
  TPictureButton* BtnPol0k5;
  TPictureButton* BtnAM;
  TPictureButton* BtnTLG;
  TPictureButton* BtnVBP;
  TPictureButton* BtnNBP;
  TPictureButton* BtnCLASS;
  TPictureButton* BtnAvr;
  TPictureButton* BtnChan;
  TPictureButton* BtnMoreParams;
  TPictureButton* BtnSetup;
  TPictureButton* BtnPan;
  TPictureButton* BtnFScan;
  TPictureButton* BtnRegector;
  TPictureButton* Btn[10];  // Btn0 … Btn9
  TPictureButton* BtnDot;
  TPictureButton* BtnEnt;
  QLabel* RxLabel1;
  TSpinEdit* AttVch;
  QSlider* SldTon;
  QLabel* RxLabel2;
  QLabel* LblTon;
  QSlider* SldRRU;
  QLabel* LblRRU;
  QSlider* SldNch;
  QLabel* LblNch;
  QTimer* TimerCom;

  // ---- State besides the controls.
  int32_t SavedkHz = 0;
  int32_t SavedHz = 0;
  bool FirstActivation = true;
  HMODULE FftLibrary = nullptr;
  uint8_t LinkKind = 1;  // cmd::kLinkSerial or cmd::kLinkUsb
  int32_t EntryActive = 0;
  int32_t DotTyped = 0;
  int32_t TypedHz = 0;
  int32_t HzWeight = 0;
  int32_t TypedkHz = 0;
  int32_t LastKnobValue = 0;
  int32_t ReportedLevel = 0;

  // The tuning knob, or none when its control could not be created.
  std::unique_ptr<TKnob> Mirtal;

  // ---- Lifecycle.
  void FormActivate();
  void FormDestroy();
  void TimerComTimer();
  void UploadState();
  void Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;
  void HandleLinkMessage(int code);
  HWND Handle() const { return handle_; }

  // ---- Frequency entry and tuning.
  void BtnPress(TPictureButton* sender);
  void FormKeyPress(QChar key);
  void MirtalGetValue();
  void TuneTo(int32_t f);
  void EndKeypadEntry();
  void SetKnobValue(int32_t f);
  int32_t TunedFrequency() const { return FreqkHz->Value() * 1000 + FreqHz->Value(); }
  // The frequency the receiver is tuned to: what the displays show, except while a keypad
  // entry is open, when they show the digits being typed.
  int32_t ReceiverFrequency() const;
  // Drops an unfinished keypad entry: the displays show the receiver's frequency again.
  void CancelKeypadEntry();

  // ---- Mode, bandwidth and gain controls.
  void BtnARUClick();
  void BtnRRUClick();
  void BtnAMClick();
  void BtnTLGClick();
  void BtnVBPClick();
  void BtnNBPClick();
  void BtnCLASSClick();
  void BtnPolClick(int index);  // 0 … 5: 12k, 8k, 6k, 3k, 1k, 0k5
  void BtnUvcClick();
  void BtnGOClick();
  void SldRRUChange();
  void SldNchChange();
  void SldTonChange();
  void AttVchChange();
  void BtnChanClick();
  void BtnMoreParamsClick();
  void BtnSetupClick();
  void BtnPanClick();
  void BtnFScanClick();
  void BtnRegectorClick();
  // The bandwidth click of the first bandwidth button that is down (none: nothing).
  void ReissueBandwidth();
  TPictureButton* BandwidthButton(int index) const;

  // ---- Spectrum.
  void RenderSpectrum();
  // What the spectrum reads of the windows' controls, at the moment of the call.
  SpectrumControls SpectrumInputs() const;
  SpectrumPictures Pictures();
  // Shows what the spectrum functions drew into the five pictures.
  void SpectrumShown();
  void AddBlock(const int16_t* block);

  // Writes every window's persisted values to the initialization file, merged into what
  // the file holds now. Runs at shut-down and, through SaveTimer, soon after any change,
  // so that a run that never reaches its shut-down (the X server gone, a kill, a power
  // cut) loses at most the last second.
  void SaveAllWindows();
  QTimer* SaveTimer;

  TFormStorage& Storage() { return *storage_; }

 protected:
  bool event(QEvent*) override;
  void showEvent(QShowEvent*) override;
  void closeEvent(QCloseEvent*) override;
  void keyPressEvent(QKeyEvent*) override;
  void wheelEvent(QWheelEvent*) override;
  bool eventFilter(QObject*, QEvent*) override;

 private:
  void CreateControls();
  void CreateKnob();
  void ConnectHandlers();
  void ToolButtonClick(TPictureButton* button, QWidget* window);
  void FormMouseWheel(QPoint globalPos, int delta);

  HWND handle_ = nullptr;
  std::unique_ptr<TFormStorage> storage_;
  int32_t entryStartFrequency_ = 0;  // ReceiverFrequency while a keypad entry is open
  bool destroyed_ = false;
};

extern TMain* Main;
extern SpectrumState Spectrum;

// Every window's persisted values are saved here and restored at start-up. A file that
// exists but cannot be read is said once on standard error and never written over.
win32::IniFile& ProgramIni();
// Lets go of the open file: the next ProgramIni() opens it again from the configuration
// folder of that moment, as a new start of the program would.
void CloseProgramIni();
