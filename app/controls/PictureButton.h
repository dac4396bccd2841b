// A latching picture button: draws its face label on a picture of its own and holds a
// down state. Buttons of one parent that share a group index latch together (exactly one
// down); a toggle latches down and up on its own; a plain push button does not latch.
//
// The click action runs only when the operator clicks (or the code calls PerformClick);
// SetDown() changes the state silently, as restoring a saved state must.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <functional>

class TPictureButton : public QAbstractButton {
  Q_OBJECT
 public:
  enum class Kind { Push, Toggle, Group };

  TPictureButton(QWidget* parent, const QString& name, const QString& face, Kind kind,
                 int groupIndex = 0);

  bool Down() const { return down_; }
  // Sets the state without running the click action. Setting a group button down
  // releases the others of its group.
  void SetDown(bool down);

  // Runs what a mouse click runs: the state change of the button's kind, then OnClick.
  void PerformClick();

  Kind ButtonKind() const { return kind_; }
  int GroupIndex() const { return group_; }
  QString Face() const { return face_; }

  std::function<void()> OnClick;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  QSize sizeHint() const override { return {46, 26}; }

 private:
  void ReleaseGroupSiblings();
  // Sets the down state and tells the accessibility clients when it changes.
  void Latch(bool down);

  QString face_;
  Kind kind_;
  int group_;
  bool down_ = false;
  bool pressed_ = false;  // mouse held over the button: draws it sunk
};
