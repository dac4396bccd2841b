#include "app/controls/AccessibleControls.h"

#include <QAccessibleWidget>

#include "app/controls/ImageControl.h"
#include "app/controls/PictureButton.h"
#include "app/controls/SevenSegment.h"

namespace {

// A name given in code, or else the fallback; line breaks of painted or hint text read as spaces.
QString NameOr(const QWidget* w, const QString& fallback) {
  return w->accessibleName().isEmpty() ? fallback.simplified() : w->accessibleName();
}

class PictureButtonAccessible : public QAccessibleWidget {
 public:
  explicit PictureButtonAccessible(TPictureButton* b) : QAccessibleWidget(b, QAccessible::Button) {}

  QString text(QAccessible::Text t) const override {
    if (t != QAccessible::Name) return QAccessibleWidget::text(t);
    return NameOr(widget(), Button()->Face().isEmpty() ? widget()->toolTip() : Button()->Face());
  }

  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    if (Latches()) {
      s.checkable = true;
      s.checked = Button()->Down();
    }
    return s;
  }

  // The reader's "press" (or "toggle") does what a click does.
  QStringList actionNames() const override {
    QStringList names = QAccessibleWidget::actionNames();
    if (widget()->isEnabled()) names.prepend(Latches() ? toggleAction() : pressAction());
    return names;
  }
  void doAction(const QString& name) override {
    if ((name == pressAction() || name == toggleAction()) && widget()->isEnabled()) Button()->PerformClick();
    else QAccessibleWidget::doAction(name);
  }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }

 private:
  TPictureButton* Button() const { return static_cast<TPictureButton*>(widget()); }
  bool Latches() const { return Button()->ButtonKind() != TPictureButton::Kind::Push; }
};

class SevenSegmentAccessible : public QAccessibleWidget {
 public:
  explicit SevenSegmentAccessible(TSevenSegment* s) : QAccessibleWidget(s, QAccessible::StaticText) {}

  QString text(QAccessible::Text t) const override {
    const QString digits = static_cast<TSevenSegment*>(widget())->Text().trimmed();
    if (t == QAccessible::Value) return digits;
    // The digits, then the name given in code, which says what they count ("14200 кГц").
    if (t == QAccessible::Name) return widget()->accessibleName().isEmpty() ? digits : digits + " " + widget()->accessibleName();
    return QAccessibleWidget::text(t);
  }
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
  if (className == QLatin1String("TPictureButton"))
    return new PictureButtonAccessible(static_cast<TPictureButton*>(object));
  if (className == QLatin1String("TSevenSegment"))
    return new SevenSegmentAccessible(static_cast<TSevenSegment*>(object));
  if (className == QLatin1String("TImage")) return new QAccessibleWidget(static_cast<TImage*>(object), QAccessible::Graphic);
  return nullptr;
}

}  // namespace

void InstallAccessibleControls() {
  static const bool installed = [] {
    QAccessible::installFactory(Factory);
    return true;
  }();
  (void)installed;
}
