#include "platform/ole/ToolTip.h"

#include <QCursor>
#include <QEvent>
#include <QHelpEvent>
#include <QLabel>
#include <QWidget>

namespace ole {

ToolTip::ToolTip(QWidget* owner) : owner_(owner) {}

ToolTip::~ToolTip() { delete popup_; }

void ToolTip::Activate(bool active) {
  active_ = active;
  if (!active) Hide();
}

void ToolTip::SetMaxWidth(int pixels) {
  maxWidth_ = pixels;
  if (popup_) popup_->setMaximumWidth(pixels > 0 ? pixels : QWIDGETSIZE_MAX);
}

void ToolTip::UpdateText(const QString& text) {
  text_ = text;
  if (popup_) {
    popup_->setText(text);
    popup_->adjustSize();
    if (text.isEmpty()) Hide();
  }
}

bool ToolTip::IsShown() const { return popup_ && popup_->isVisible(); }

void ToolTip::Show() {
  if (!active_ || text_.isEmpty()) return;
  if (!popup_) {
    popup_ = new QLabel(nullptr, Qt::ToolTip);
    popup_->setWordWrap(true);
    popup_->setMargin(2);
    popup_->setForegroundRole(QPalette::ToolTipText);
    popup_->setBackgroundRole(QPalette::ToolTipBase);
    popup_->setAutoFillBackground(true);
  }
  popup_->setMaximumWidth(maxWidth_ > 0 ? maxWidth_ : QWIDGETSIZE_MAX);
  popup_->setText(text_);
  popup_->adjustSize();
  popup_->move(QCursor::pos() + QPoint(2, 20));
  popup_->show();
}

void ToolTip::Hide() {
  if (popup_) popup_->hide();
}

bool ToolTip::Relay(QEvent* event) {
  switch (event->type()) {
    case QEvent::ToolTip:
      Show();
      return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Leave:
    case QEvent::Hide:
      Hide();
      return false;
    default:
      return false;
  }
}

}  // namespace ole
