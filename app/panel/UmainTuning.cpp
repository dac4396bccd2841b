// The main window's frequency entry and tuning: keypad, keyboard, knob, mouse wheel.
#include <QApplication>
#include <QKeyEvent>
#include <QWheelEvent>

#include "app/dsp/Udebug.h"
#include "app/dsp/Utms.h"
#include "app/dsp/Uvestramdebug.h"
#include "app/link/Ucmd.h"
#include "app/panel/Umain.h"
#include "app/Startup.h"
#include "app/spectrum/Uiq.h"
#include "app/spectrum/Usettings.h"
#include "app/spectrum/Uwaterfall.h"

void TMain::BtnPress(TPictureButton* sender) {
  if (sender != BtnEnt && EntryActive == 0 && DotTyped == 0) entryStartFrequency_ = TunedFrequency();
  if (sender == BtnDot) {
    if (DotTyped == 0) {
      HzWeight = 100;
      TypedHz = 0;
      FreqHz->SetValue(0);
    }
    DotTyped = 1;
    return;
  }
  if (sender == BtnEnt) {
    if (FreqkHz->Value() < 1000 || FreqkHz->Value() > 30000) {
      FreqkHz->SetValue(SavedkHz);
      FreqHz->SetValue(SavedHz);
    } else {
      SendCommand(cmd::Frequency, TunedFrequency());
    }
    EndKeypadEntry();
    return;
  }
  int k = -1;
  for (int d = 0; d < 10; ++d)
    if (sender == Btn[d]) k = d;
  if (k < 0) return;
  if (EntryActive == 0) {
    SavedkHz = FreqkHz->Value();
    SavedHz = FreqHz->Value();
  }
  EntryActive = 1;
  if (DotTyped == 1) {
    TypedHz += k * HzWeight;
    HzWeight /= 10;
    FreqHz->SetValue(TypedHz);
  } else {
    if (TypedkHz <= 9999) TypedkHz = TypedkHz * 10 + k;
    FreqkHz->SetValue(TypedkHz);
    FreqHz->SetValue(TypedHz);
  }
}

int32_t TMain::ReceiverFrequency() const {
  return EntryActive || DotTyped ? entryStartFrequency_ : TunedFrequency();
}

void TMain::CancelKeypadEntry() {
  const int32_t f = ReceiverFrequency();
  FreqkHz->SetValue(f / 1000);
  FreqHz->SetValue(f % 1000);
  EndKeypadEntry();
}

void TMain::EndKeypadEntry() {
  TypedkHz = 0;
  TypedHz = 0;
  HzWeight = 100;
  EntryActive = 0;
  DotTyped = 0;
}

void TMain::FormKeyPress(QChar key) {
  const char16_t c = key.unicode();
  if (c >= '0' && c <= '9') BtnPress(Btn[c - '0']);
  else if (c == '.') BtnPress(BtnDot);
  else if (c == 13) BtnPress(BtnEnt);
  else if (c == 4 && Debug) ShowAndRaise(Debug);
  else if (c == 9 && IQ) ShowAndRaise(IQ);
  else if (c == 12 && Tms) ShowAndRaise(Tms);
  else if (c == 25 && VestraMdebug) ShowAndRaise(VestraMdebug);
  else if (c == 23 && Waterfall) Waterfall->Toggle();
}

void TMain::MirtalGetValue() {
  int32_t f = TunedFrequency();
  if (!Mirtal) return;
  Mirtal->SetStep(int32_t(SettingsWindow->Step1->Value()));
  Mirtal->SetBigStep(int32_t(SettingsWindow->Step2->Value()));
  const int32_t v = Mirtal->ValueMirtal();
  if (v == 0) {
    Mirtal->SetValueMirtal(f);
    LastKnobValue = f;
    return;
  }
  if (v == LastKnobValue) return;
  // In 64 bits: the knob's range reaches far beyond the receiver's.
  int64_t g = int64_t(f) + (int64_t(v) - LastKnobValue);
  LastKnobValue = v;
  g = std::clamp<int64_t>(g, 1000000, 30000000);
  f = int32_t(g);
  FreqkHz->SetValue(f / 1000);
  FreqHz->SetValue(f % 1000);
  SendCommand(cmd::Frequency, f);
  entryStartFrequency_ = f;  // a turn during a keypad entry tunes the receiver all the same
}

void TMain::SetKnobValue(int32_t f) {
  if (Mirtal) Mirtal->SetValueMirtal(f);
}

void TMain::TuneTo(int32_t f) {
  FreqkHz->SetValue(f / 1000);
  FreqHz->SetValue(f % 1000);
  EndKeypadEntry();
  SetKnobValue(f);
  LastKnobValue = f;
  SendCommand(cmd::Frequency, TunedFrequency());
}

void TMain::FormMouseWheel(QPoint globalPos, int delta) {
  if (delta == 0) return;  // a horizontal or tilt scroll: no turn up or down
  QWidget* under = childAt(mapFromGlobal(globalPos));
  for (QSlider* s : {SldRRU, SldTon, SldNch})
    if (under == s && s->isEnabled()) s->setValue(s->value() + (delta >= 0 ? 1 : -1));
}

// Key preview: the window sees each key typed into it before the focused control, and
// does not take the key away from that control. The wheel is handled for the whole window.
bool TMain::eventFilter(QObject* target, QEvent* e) {
  auto* w = qobject_cast<QWidget*>(target);
  if (!w || w->window() != this) return false;
  if (e->type() == QEvent::KeyPress) {
    // A key goes first to the focused control and then, when ignored, up to its parents:
    // look at it once, on its first delivery.
    QWidget* first = QApplication::focusWidget();
    if (w != (first && first->window() == this ? first : this)) return false;
    auto* k = static_cast<QKeyEvent*>(e);
    if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
      FormKeyPress(QChar(13));
    } else if ((k->modifiers() & Qt::ControlModifier) && k->key() >= Qt::Key_A && k->key() <= Qt::Key_Z) {
      FormKeyPress(QChar(k->key() - Qt::Key_A + 1));
    } else if (!k->text().isEmpty() && k->text()[0] >= QChar(' ')) {
      // Control characters come only with Ctrl (above): plain Tab, Backspace and Escape
      // also arrive as characters 9, 8 and 27, and must not open a service window.
      FormKeyPress(k->text()[0]);
    }
    return false;
  }
  if (e->type() == QEvent::Wheel) {
    auto* wheel = static_cast<QWheelEvent*>(e);
    FormMouseWheel(wheel->globalPosition().toPoint(), wheel->angleDelta().y());
    return true;  // handled: no control scrolls by itself
  }
  return false;
}

void TMain::keyPressEvent(QKeyEvent* e) { e->accept(); }
void TMain::wheelEvent(QWheelEvent* e) { e->accept(); }
