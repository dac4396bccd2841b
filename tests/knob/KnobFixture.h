#pragma once
// A knob control placed in a parent widget, driven through its dispatch interface, synthetic
// mouse events, timer ticks and explicit repaints, with every event it fires recorded.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QImage>
#include <QMouseEvent>
#include <QTimer>
#include <QTimerEvent>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "knob/MirtalCtrl.h"
#include "knob/MirtalIds.h"
#include "platform/ole/PlatformUi.h"
#include "tests/platform/ole/QtApp.h"

namespace knobtest {

struct Fired {
  ole::DispId id;
  ole::Args args;
  bool operator==(const Fired&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Fired& f) {
  os << "event " << f.id << "(";
  for (const auto& a : f.args) os << a.toString().value_or("?") << " ";
  return os << ")";
}

// One operator input, for tables of input sequences and the events they fire.
enum class Act { PressL, ReleaseL, PressR, ReleaseR, PressM, ReleaseM, DoubleL, DoubleR, Tick2, RunDownOn, RunDownOff, RunUpOn, RunUpOff };

class KnobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_qt::EnsureApplication();
    values.clear();
    events.clear();
    messages.clear();
    shift = false;
    ole::SetMessageBoxHandler([this](const std::string& text) { messages.push_back(text); });
    ole::SetShiftStateProvider([this] { return shift; });
    parent = std::make_unique<QWidget>();
    knob = new mirtal::MirtalCtrl;
    knob->InitNew();
    knob->Events().Advise([this](ole::DispId id, const ole::Args& args) {
      if (id == mirtal::event::GetValue)
        values.push_back(*args.at(0).toInt32());
      else
        events.push_back({id, args});
    });
    knob->ActivateInPlace(parent.get(), QRect(0, 0, 64, 63));
  }
  void TearDown() override {
    parent.reset();  // destroys the knob with it, as the container's window does
    ole::SetMessageBoxHandler({});
    ole::SetShiftStateProvider({});
  }

  void Put(ole::DispId id, const ole::Variant& v) { ASSERT_EQ(knob->PutProperty(id, v), ole::S_OK) << id; }
  ole::Variant Get(ole::DispId id) {
    ole::Variant v;
    EXPECT_EQ(knob->GetProperty(id, v), ole::S_OK) << id;
    return v;
  }
  std::int32_t Value() { return *Get(mirtal::dispid::ValueMirtal).toInt32(); }
  void Run(bool dir, bool start) { ASSERT_EQ(knob->Invoke(mirtal::dispid::Run, ole::InvokeKind::Method, {dir, start}, nullptr), ole::S_OK); }

  // One repaint of the control; returns what it drew.
  QImage Repaint() {
    QImage image(knob->size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    knob->render(&image);
    return image;
  }

  void Mouse(QEvent::Type type, Qt::MouseButton button) {
    const QPointF at(30, 30);
    QMouseEvent e(type, at, knob->mapToGlobal(at), button,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
    QCoreApplication::sendEvent(knob, &e);
  }
  void Press(Qt::MouseButton b) { Mouse(QEvent::MouseButtonPress, b); }
  void Release(Qt::MouseButton b) { Mouse(QEvent::MouseButtonRelease, b); }
  void DoubleClick(Qt::MouseButton b) {
    Press(b);
    Release(b);
    Mouse(QEvent::MouseButtonDblClick, b);
  }
  // The timer with the control's own id elapses once.
  void Tick(int id) {
    const int native = knob->NativeTimerId(id);
    ASSERT_NE(native, 0) << "timer " << id << " is not running";
    QTimerEvent e(native);
    QCoreApplication::sendEvent(knob, &e);
  }

  void Perform(Act a) {
    switch (a) {
      case Act::PressL: Press(Qt::LeftButton); break;
      case Act::ReleaseL: Release(Qt::LeftButton); break;
      case Act::PressR: Press(Qt::RightButton); break;
      case Act::ReleaseR: Release(Qt::RightButton); break;
      case Act::PressM: Press(Qt::MiddleButton); break;
      case Act::ReleaseM: Release(Qt::MiddleButton); break;
      case Act::DoubleL: DoubleClick(Qt::LeftButton); break;
      case Act::DoubleR: DoubleClick(Qt::RightButton); break;
      case Act::Tick2: Tick(2); break;
      case Act::RunDownOn: Run(true, true); break;
      case Act::RunDownOff: Run(true, false); break;
      case Act::RunUpOn: Run(false, true); break;
      case Act::RunUpOff: Run(false, false); break;
    }
  }

  // Takes n repaints and returns the value each one reported.
  std::vector<std::int32_t> Repaints(int n) {
    values.clear();
    for (int i = 0; i < n; ++i) lastImage = Repaint();
    return values;
  }

  // Shows the knob in its parent and lets the first drawing happen, so that real timer ticks
  // bring real repaints.
  void ShowOnScreen() {
    parent->resize(100, 100);
    parent->show();
    QCoreApplication::processEvents();
  }
  // Lets the event loop run for `ms` milliseconds.
  static void RunEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
  }
  // Holds a button for `ms` milliseconds of the running event loop.
  void Hold(Qt::MouseButton b, int ms) {
    Press(b);
    RunEventLoop(ms);
    Release(b);
  }

  // n ticks of the repeat timer, each followed by the repaint it asks for; returns the value
  // each repaint reported.
  std::vector<std::int32_t> Turns(int n) {
    values.clear();
    for (int i = 0; i < n; ++i) {
      Tick(1);
      lastImage = Repaint();
    }
    return values;
  }

  std::unique_ptr<QWidget> parent;
  mirtal::MirtalCtrl* knob = nullptr;
  std::vector<std::int32_t> values;  // GetValue, in order
  std::vector<Fired> events;         // every other event, in order
  std::vector<std::string> messages;
  QImage lastImage;  // drawn by the last of Repaints
  bool shift = false;
};

// Whether the 4 x 4 black pointer dot sits with its corner at (x, y).
inline bool DotAt(const QImage& image, int x, int y) {
  for (int dy = 0; dy < 4; ++dy)
    for (int dx = 0; dx < 4; ++dx)
      if (image.pixel(x + dx, y + dy) != qRgb(0, 0, 0)) return false;
  return true;
}

// Whether the given picture appears with its corner at (x, y).
inline bool PictureAt(const QImage& image, const QImage& picture, int x, int y) {
  const QImage p = picture.convertToFormat(QImage::Format_RGB32);
  for (int py = 0; py < p.height(); ++py)
    for (int px = 0; px < p.width(); ++px)
      if (image.pixel(x + px, y + py) != p.pixel(px, py)) return false;
  return true;
}

}  // namespace knobtest
