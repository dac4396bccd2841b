#pragma once
// A control's About box: a caption, one line of text and an OK button.

#include <QDialog>
#include <QString>

namespace ole {

class AboutBox : public QDialog {
  Q_OBJECT

 public:
  AboutBox(const QString& caption, const QString& line, QWidget* parent = nullptr);
};

}  // namespace ole
