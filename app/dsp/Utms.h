// The DSP program loader TTms (Ctrl+L in the main window): sends a program file to the
// receiver in 64-byte packets over the USB link, with a progress bar.
//
// A transfer runs on the user-interface thread from the button press to its last packet
// (each write may wait up to 500 ms); only this window is repainted meanwhile, after each
// middle packet, and the cursor shows busy. A refused file is told and nothing is sent.
#pragma once

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include "app/controls/ToolWindow.h"

// A file-name edit with a browse button; FilterIndex counts the dialog's filters from 1.
class TFilenameEdit : public QWidget {
  Q_OBJECT
 public:
  // `filter`: pairs of description and pattern separated by '|'.
  TFilenameEdit(QWidget* parent, const QString& name, const QString& filter);

  QString Text() const { return edit_->text(); }
  void SetText(const QString& text) { edit_->setText(text); }
  int FilterIndex() const { return filterIndex_; }
  void SetFilterIndex(int index);
  QStringList DialogFilters() const { return filters_; }

  // Opens the file-open dialog; a chosen file replaces the text.
  void Browse();

  // After the text was edited or a file chosen.
  std::function<void()> OnChange;

 private:
  QLineEdit* edit_;
  QToolButton* button_;
  QStringList filters_;
  int filterIndex_ = 1;
};

class TTms : public TToolWindow {
  Q_OBJECT
 public:
  TTms();

  TFilenameEdit* Filename;
  QPushButton* Load;
  QProgressBar* Progress;

  static constexpr const char* kFileFilter = "Program files(*.bin)|*.bin| All files (*.*)|*.*";

  // Runs the whole transfer of the file named in Filename; returns when it is done.
  void LoadClick();

 private:
  void FormShowFirst();
  void SaveFilename();
};

extern TTms* Tms;
