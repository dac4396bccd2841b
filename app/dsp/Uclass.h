// The emission-class window TClassIz: puts the receiver into one of the 32 emission classes
// named by their designators. Choosing a class sends, in one sequence, the bandwidth, the
// tone, the class's parameters (speed, shift, sideband shift) and its class code, and decides
// which of this window's parameter controls and the main window's tone slider are usable.
#pragma once

#include <QLabel>

#include "app/controls/ComboBox.h"
#include "app/controls/PictureButton.h"
#include "app/controls/RadioGroup.h"
#include "app/controls/SpinEdit.h"
#include "app/controls/ToolWindow.h"

class TClassIz : public TToolWindow {
  Q_OBJECT
 public:
  TClassIz();

  // ---- Controls, in the order of the window's table.
  QLabel* Label1;
  TComboBox* ClassName;
  QLabel* LblVt;
  TSpinEdit* Vt;
  QLabel* LbldF;
  TSpinEdit* dF;
  TRadioGroup* BP;
  QLabel* LblBP;
  TRadioGroup* Kan;
  QLabel* LblKan;
  TPictureButton* BtnDecoder;

  // Applies the class chosen in ClassName: disables every parameter control and the tone
  // slider, latches the class button, re-sends the bandwidth and the tone, then enables what
  // the class uses and sends its parameters and class code. A designator that is not in the
  // list is taken as the first one.
  void ApplyClass();
  // The designator of the chosen class, shown as the hint of the class-mode button.
  QString ClassNameText() const { return ClassName->Text(); }

  // ---- Handlers.
  void ClassNameChange();
  void BPClick() { ApplyClass(); }
  void KanClick() { ApplyClass(); }
  void SpinArrowClick() { ApplyClass(); }  // VtTopClick, VtBottomClick, dFTopClick, dFBottomClick
  void VtKeyDown(int key);
  void dFKeyDown(int key);
  void BtnDecoderClick();

 private:
  void CreateControls();
  void ConnectHandlers();
};

// The 32 designators in the order of the class list.
extern const QStringList kClassDesignators;

extern TClassIz* ClassIz;
