// The message window TDecoder: tells the receiver which character length to decode (menu
// "Прием") and shows the characters it reports. The alphabets and the text pane join with
// the decoder work; the receive-mode menu is here because the full-state upload sends it.
#pragma once

#include <QAction>
#include <QActionGroup>
#include <QMenuBar>

#include "app/controls/ToolWindow.h"

class TDecoder : public TToolWindow {
  Q_OBJECT
 public:
  TDecoder();

  QMenuBar* Menu;
  QAction* Recv7d5;
  QAction* Recv9;
  QAction* Recv10;
  QAction* Recv11;
  QAction* RecvOFF;

  // Characters are taken while the window shows and reception is not off.
  bool Receiving() const;
  void ReceiveCharacter(uint8_t character);
  // The click of the checked receive item, in the order 7.5, 9, 10, 11 bits, off: sends O.
  void SendReceiveMode();

 private:
  void RecvClick(QAction* item, int value);
  QActionGroup* recvGroup_;
};

extern TDecoder* Decoder;
