// A captioned group of radio buttons. Its click action (OnClick) runs whenever the
// selected index changes, by the operator or in code.
#pragma once

#include <QButtonGroup>
#include <QGroupBox>
#include <functional>

class TRadioGroup : public QGroupBox {
  Q_OBJECT
 public:
  TRadioGroup(QWidget* parent, const QString& name, const QString& caption,
              const QStringList& items, int columns, int index);

  int ItemIndex() const { return index_; }
  void SetItemIndex(int index);

  std::function<void()> OnClick;

 private:
  QButtonGroup buttons_;
  int index_ = -1;
};
