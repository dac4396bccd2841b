#pragma once
// A tooltip with one tool covering its whole owner widget: it appears when the pointer rests
// on the owner, wraps its text at a maximum width, and hides when a button is pressed or the
// pointer leaves. The owner relays its events through Relay.

#include <QString>

class QEvent;
class QLabel;
class QWidget;

namespace ole {

class ToolTip {
 public:
  explicit ToolTip(QWidget* owner);
  ~ToolTip();
  ToolTip(const ToolTip&) = delete;
  ToolTip& operator=(const ToolTip&) = delete;

  void Activate(bool active);
  bool IsActive() const { return active_; }
  void SetMaxWidth(int pixels);
  int MaxWidth() const { return maxWidth_; }
  void UpdateText(const QString& text);
  const QString& Text() const { return text_; }
  bool IsShown() const;

  // Passes one event of the owner; returns true when the tooltip consumed it.
  bool Relay(QEvent* event);

 private:
  void Show();
  void Hide();

  QWidget* owner_;
  QLabel* popup_ = nullptr;
  QString text_;
  int maxWidth_ = -1;
  bool active_ = false;
};

}  // namespace ole
