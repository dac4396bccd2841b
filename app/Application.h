// The program's application object: Qt's, with one addition. An exception that escapes an
// event handler (a click, a timer, a link message) does not end the program: it is shown
// in an error box with its text, written to standard error, and the program goes on.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

class ProgramApplication : public QApplication {
  Q_OBJECT
 public:
  ProgramApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // The error box now on screen, if any.
  QMessageBox* ErrorBox() const { return errorBox_; }

 private:
  void ShowException(const QString& text);

  // One box at a time: a handler that throws on every tick of a timer must not bury the
  // screen under boxes; the later texts go to standard error only.
  QPointer<QMessageBox> errorBox_;
};
