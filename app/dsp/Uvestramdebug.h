// The service console TVestraMdebug (Ctrl+Y): a single-border window in the centre of the
// screen. SpectrCtrl switches the receiver's spectrum output with a raw frame over USB only
// (STX, 's', '0' + index, ETX, no checksum; zeros after). The decoder panel below it has no
// action: SetDecoder sends nothing.
#pragma once

#include <QPushButton>

#include "app/controls/RadioGroup.h"
#include "app/controls/ToolWindow.h"

class TVestraMdebug : public TToolWindow {
  Q_OBJECT
 public:
  TVestraMdebug();

  TRadioGroup* SpectrCtrl;
  QWidget* DecoderPanel;
  TRadioGroup* DecodingType;
  TRadioGroup* CharSize;
  TRadioGroup* Mode7d5;
  TRadioGroup* CodeType;
  TRadioGroup* ParityCtrl;
  TRadioGroup* TxMode;
  TRadioGroup* Alphabet;
  QPushButton* SetDecoder;

  // Writes the spectrum-control frame with SpectrCtrl's index; the result is not looked at.
  void SpectrCtrlClick();
};

extern TVestraMdebug* VestraMdebug;
