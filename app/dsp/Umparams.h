// The additional-parameters window TMParams: the receiver settings the main window has no
// room for (test signal, reference oscillator, gain-control parameters, noise suppression,
// sideband shift, LF band, filter shape, telegraph shaper, LF test generator). Every
// control sends its command as soon as it changes.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QSlider>

#include "app/controls/ComboBox.h"
#include "app/controls/RadioGroup.h"
#include "app/controls/SpinEdit.h"
#include "app/controls/ToolWindow.h"

class TMParams : public TToolWindow {
  Q_OBJECT
 public:
  TMParams();

  TRadioGroup* KS;
  TSpinEdit* UserPch;
  TSpinEdit* Vt;
  TSpinEdit* dF;
  TRadioGroup* Opora;
  QCheckBox* OporaCh;
  TComboBox* tARU;
  TSpinEdit* PorogARU;
  TComboBox* RruComp;
  TComboBox* ShpOn;
  TFloatSpinEdit* TauShp;
  TSpinEdit* PorogShp;
  TSpinEdit* Sideband;
  TComboBox* PolNch;
  TComboBox* FormaAchh;
  TComboBox* FTlg;
  TRadioGroup* KSNch;
  QSlider* KsNchUsil;
  QLabel* KsNchUsilLbl;
  QSlider* KsNchFreq;
  QLabel* KsNchFreqLbl;

  // The noise-suppression time constant in tenths of a second, as the receiver takes it.
  int TauShpTenths() const;

  void KSClick();
  void UserPchChange();
  void SendTelegraphTest();  // VtTopClick, VtBottomClick, dFTopClick, dFBottomClick
  void VtKeyDown(int key);
  void dFKeyDown(int key);
  void OporaChClick();
  void OporaClick();
  void tARUChange();
  void PorogARUChange();
  void RruCompChange();
  void ShpOnChange();
  void TauShpChange();
  void PorogShpChange();
  void SidebandChange();
  void PolNchChange();
  void FormaAchhChange();
  void FTlgChange();
  void KSNchClick();
  void KsNchUsilChange();
  void KsNchFreqChange();

 protected:
  bool eventFilter(QObject*, QEvent*) override;

 private:
  void CreateControls();
  void ConnectHandlers();
  void FormMouseWheel(QPoint globalPos, int delta);
  // Moves the main window's LF gain slider to the generator's gain.
  void FollowLfGain(int position);
};

extern TMParams* MParams;
