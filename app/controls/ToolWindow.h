// A tool window: created once at start-up, lives until the program ends; closing it only
// hides it and runs FormClose (which releases the main-window button that opened it).
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "app/controls/FormStorage.h"

// Shows a window and brings it to the front.
void ShowAndRaise(QWidget* window);

class TToolWindow : public QWidget {
  Q_OBJECT
 public:
  // clientSize empty: the window sizes itself from its layout.
  TToolWindow(const QString& className, const QString& caption, QSize clientSize, bool toolStyle = true);

  const QString& ClassName() const { return className_; }

  // The window's persisted properties; created with the list by the window that keeps any.
  TFormStorage* Storage() const { return storage_.get(); }
  void SetPersisted(const QStringList& properties);

  // Shows the window and brings it to the front.
  void ShowAndRaise();

  std::function<void()> FormClose;
  // Runs when the window is shown, not when it is restored after being minimised.
  std::function<void()> FormShow;

 protected:
  void closeEvent(QCloseEvent*) override;
  void showEvent(QShowEvent*) override;

 private:
  QString className_;
  std::unique_ptr<TFormStorage> storage_;
};
