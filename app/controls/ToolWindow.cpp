#include "app/controls/ToolWindow.h"

#include <QCloseEvent>

TToolWindow::TToolWindow(const QString& className, const QString& caption, QSize clientSize,
                         bool toolStyle)
    : QWidget(nullptr, toolStyle ? Qt::Tool : Qt::Window), className_(className) {
  setObjectName(className);
  setWindowTitle(caption);
  setWindowFlag(Qt::WindowMaximizeButtonHint, false);
  if (!clientSize.isEmpty()) setFixedSize(clientSize);
  // Plain dialog font of the tool windows.
  QFont f("Arial");
  f.setPixelSize(11);
  setFont(f);
}

void TToolWindow::SetPersisted(const QStringList& properties) {
  storage_ = std::make_unique<TFormStorage>(this, className_, properties);
}

void ShowAndRaise(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
}

void TToolWindow::ShowAndRaise() { ::ShowAndRaise(this); }

void TToolWindow::closeEvent(QCloseEvent* e) {
  e->accept();  // hidden, never destroyed before the program ends
  if (FormClose) FormClose();
}

void TToolWindow::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  // A window restored from the task bar gets a show event from the window system too; the
  // window was never hidden, so its show action does not run again.
  if (FormShow && !e->spontaneous()) FormShow();
}
