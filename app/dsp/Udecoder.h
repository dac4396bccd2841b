// The message window TDecoder: tells the receiver which character length to decode (menu
// "Прием"), turns each character the receiver reports into text under the chosen alphabet
// (menu "Кодировка") and appends it to a read-only pane, which the operator can clear and
// save as a text file (menu "Файл").
#pragma once

#include <QAction>
#include <QActionGroup>
#include <QMenuBar>

#include "app/controls/ToolWindow.h"
#include "app/dsp/UdecoderAlphabets.h"
#include "app/dsp/UdecoderPane.h"

// The file-save dialog's settings: the file chosen last and the filter it was chosen with
// (1-based). Kept between runs.
class TSaveDialog : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString fileName MEMBER FileName)
  Q_PROPERTY(int filterIndex MEMBER FilterIndex)
 public:
  TSaveDialog(QObject* parent, const QString& name, const QString& defaultExt, const QStringList& filters);

  QString FileName;
  int FilterIndex = 1;
  const QString DefaultExt;
  const QStringList Filters;

  // Asks for a file to write; false when the operator cancels.
  bool Execute(QWidget* parent);
};

class TDecoder : public TToolWindow {
  Q_OBJECT
 public:
  TDecoder();

  QMenuBar* Menu;
  QAction* Clear;
  QAction* Save;
  QAction* SaveAs;
  QAction* Quit;
  QAction* Recv7d5;
  QAction* Recv9;
  QAction* Recv10;
  QAction* Recv11;
  QAction* RecvOFF;
  QAction* MTK2;
  QAction* MTK5RU;
  QAction* MTK5EN;
  QAction* ASCII;
  QAction* DecOff;
  TMessagePane* Editor;
  TSaveDialog* SaveDialog;

  uint8_t Mtk2Register = alphabet::kMtk2Latin;
  const alphabet::Mtk5Table Mtk5Table;

  // Characters are taken while the window shows and reception is not off.
  bool Receiving() const;
  // Appends the character's text at the end of the pane, wherever the caret or selection is.
  void ReceiveCharacter(uint8_t character);
  // The character as text under the checked item of "Кодировка".
  QString CharacterText(uint8_t character);
  // The click of the checked receive item, in the order 7.5, 9, 10, 11 bits, off: sends O.
  void SendReceiveMode();

  void ClearClick();
  void SaveClick();
  void SaveAsClick();
  void QuitClick();

 private:
  QAction* RadioItem(QMenu* menu, QActionGroup* group, const char* name, const QString& text);
  void RecvClick(QAction* item, int value);
  void FormShowFirst();
  // Writes the pane to the file (CR LF, code page 1251) through a temporary file renamed over
  // it, so a failed write leaves the earlier file whole; says so when it fails.
  bool WriteTo(const QString& path);

  bool loaded_ = false;
};

extern TDecoder* Decoder;
