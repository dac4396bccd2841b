#include "app/Application.h"

#include <QMessageBox>
#include <cstdio>
#include <exception>

ProgramApplication::ProgramApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool ProgramApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowException(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    ShowException("Неизвестная ошибка");
  }
  return false;
}

void ProgramApplication::ShowException(const QString& text) {
  std::fprintf(stderr, "PVestra: %s\n", qPrintable(text));
  if (errorBox_) return;
  // Application-modal like the toolkit's standard box, but shown without a nested event
  // loop: the exception's handler has already unwound, and the timers and links run on.
  errorBox_ = new QMessageBox(QMessageBox::Critical, applicationName(), text, QMessageBox::Ok);
  errorBox_->setAttribute(Qt::WA_DeleteOnClose);
  errorBox_->setModal(true);
  errorBox_->show();
}
