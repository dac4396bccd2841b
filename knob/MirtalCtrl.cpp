#include "knob/MirtalCtrl.h"

#include <QMouseEvent>
#include <QPainter>

#include "knob/MirtalModule.h"
#include "knob/MirtalTypeInfo.h"
#include "platform/ole/AboutBox.h"
#include "platform/ole/PlatformUi.h"

namespace mirtal {

using ole::DispId;
using ole::HRESULT;
using ole::Variant;

namespace {
constexpr int kRepeatTimer = 1;
constexpr int kDoubleClickTimer = 2;
constexpr int kToolTipWidth = 250;
}  // namespace

MirtalCtrl::MirtalCtrl() : ole::Control(kStoredVersion) {
  Module().Lock();
  interval_ = 1000 / timer_;
}

MirtalCtrl::~MirtalCtrl() { Module().Unlock(); }

// ---- properties

void MirtalCtrl::DoPropExchange(ole::PropExchange& px) {
  px.Int32("Step", step_, kDefaultStep);
  px.Int32("BigStep", bigStep_, kDefaultBigStep);
  if constexpr (!kVariantG) px.Int32("Kind", mode_, kDefaultMode);
  px.Int32("UpRange", upRange_, kDefaultUpRange);
  px.Int32("DNRange", dnRange_, kDefaultDNRange);
  if constexpr (kVariantG) px.Int32("Background", mode_, kDefaultMode);
  px.Bool("ShowToolTip", showToolTip_, kDefaultShowToolTip);
  px.String("ToolTipText", toolTipText_, std::string());
  px.Int16("Timer", timer_, kDefaultTimer);
}

void MirtalCtrl::OnResetState() {
  step_ = kDefaultStep;
  bigStep_ = kDefaultBigStep;
  mode_ = kDefaultMode;
  upRange_ = kDefaultUpRange;
  dnRange_ = kDefaultDNRange;
  showToolTip_ = kDefaultShowToolTip;
  toolTipText_.clear();
  timer_ = kDefaultTimer;
  ApplyToolTip();
}

void MirtalCtrl::OnLoaded() { ApplyToolTip(); }

void MirtalCtrl::ApplyToolTip() {
  if (!tooltip_) return;
  tooltip_->UpdateText(QString::fromStdString(toolTipText_));
  tooltip_->Activate(showToolTip_);
}

HRESULT MirtalCtrl::Invoke(DispId id, ole::InvokeKind kind, const ole::Args& args, Variant* result) {
  switch (kind) {
    case ole::InvokeKind::PropertyGet:
      if (!args.empty()) return ole::DISP_E_BADPARAMCOUNT;
      return GetMember(id, result);
    case ole::InvokeKind::PropertyPut:
      if (args.size() != 1) return ole::DISP_E_BADPARAMCOUNT;
      return PutMember(id, args[0]);
    case ole::InvokeKind::Method:
      if (id == dispid::Run) {
        if (args.size() != 2) return ole::DISP_E_BADPARAMCOUNT;
        auto dir = args[0].toBool();
        auto start = args[1].toBool();
        if (!dir || !start) return ole::DISP_E_TYPEMISMATCH;
        Run(*dir, *start);
        return ole::S_OK;
      }
      if (id == dispid::AboutBox) {
        if (!args.empty()) return ole::DISP_E_BADPARAMCOUNT;
        ShowAboutBox();
        return ole::S_OK;
      }
      return ole::DISP_E_MEMBERNOTFOUND;
  }
  return ole::DISP_E_MEMBERNOTFOUND;
}

const ole::TypeInfo* MirtalCtrl::GetTypeInfo() const { return &DispatchTypeInfo(); }

const ole::TypeInfo* MirtalCtrl::GetEventTypeInfo() const { return &EventTypeInfo(); }

HRESULT MirtalCtrl::GetMember(DispId id, Variant* result) const {
  Variant v;
  switch (id) {
    case dispid::Step: v = step_; break;
    case dispid::BigStep: v = bigStep_; break;
    case dispid::Mode: v = mode_; break;
    case dispid::UpRange: v = upRange_; break;
    case dispid::DNRange: v = dnRange_; break;
    case dispid::ShowToolTip: v = showToolTip_; break;
    case dispid::ToolTipText: v = toolTipText_; break;
    case dispid::Timer: v = timer_; break;
    case dispid::ValueMirtal: v = motion_.value; break;
    default: return ole::DISP_E_MEMBERNOTFOUND;
  }
  if (result) *result = v;
  return ole::S_OK;
}

HRESULT MirtalCtrl::PutMember(DispId id, const Variant& value) {
  switch (id) {
    case dispid::Step:
    case dispid::BigStep:
    case dispid::Mode:
    case dispid::UpRange:
    case dispid::DNRange:
    case dispid::ValueMirtal: {
      auto n = value.toInt32();
      if (!n) return value.ConvertError(Variant::Type::Int32);
      if (id == dispid::Step) step_ = *n;
      if (id == dispid::BigStep) bigStep_ = *n;
      if (id == dispid::UpRange) upRange_ = *n;
      if (id == dispid::DNRange) dnRange_ = *n;
      if (id == dispid::Mode) PutMode(*n);
      if (id == dispid::ValueMirtal) PutValue(*n);
      break;
    }
    case dispid::ShowToolTip: {
      auto b = value.toBool();
      if (!b) return value.ConvertError(Variant::Type::Bool);
      showToolTip_ = *b;
      if (tooltip_) tooltip_->Activate(showToolTip_);
      break;
    }
    case dispid::ToolTipText: {
      auto s = value.toString();
      if (!s) return value.ConvertError(Variant::Type::String);
      toolTipText_ = *s;
      if (tooltip_) {
        tooltip_->SetMaxWidth(kToolTipWidth);
        tooltip_->UpdateText(QString::fromStdString(toolTipText_));
      }
      break;
    }
    case dispid::Timer: {
      auto t = value.toInt16();
      if (!t) return value.ConvertError(Variant::Type::Int16);
      PutTimer(*t);
      break;
    }
    default: return ole::DISP_E_MEMBERNOTFOUND;
  }
  SetModifiedFlag();
  return ole::S_OK;
}

void MirtalCtrl::PutMode(std::int32_t mode) {
  mode_ = mode;
  motion_.value = 0;
  const Face face = FaceForMode(mode);
  if (face == Face::Small) motion_.position = 30;
  // The variant build also turns the large knobs back to the top.
  if (kVariantG && (face == Face::Large || face == Face::Degree)) motion_.position = 0;
  InvalidateControl();
}

void MirtalCtrl::PutValue(std::int32_t value) {
  // Taken unchanged, also outside the limits; only turning enforces them.
  motion_.value = value;
  if (FaceForMode(mode_) == Face::Small) motion_.position = SmallKnobPosition(value);
  InvalidateControl();
}

void MirtalCtrl::PutTimer(std::int16_t timer) {
  timer_ = timer;
  // Other speeds are kept but leave the interval as it was.
  if (timer >= 5 && timer <= 20) interval_ = 1000 / timer;
}

// ---- turning

void MirtalCtrl::StartTimer(int id) {
  if (!SetTimer(id, interval_)) ole::MessageBox("Ошибка при установке таймера");
}

void MirtalCtrl::BeginTurning(bool& flag, int timerId) {
  flag = true;
  motion_.halted = false;
  motion_.tickDue = false;  // the first step comes one interval after the start
  activeTimer_ = timerId;
  StartTimer(timerId);
}

void MirtalCtrl::EndTurning(bool& flag) {
  // One timer serves both directions: ending either stops the other's turning too.
  KillTimer(activeTimer_);
  motion_.halted = true;
  motion_.tickDue = false;
  flag = false;
}

void MirtalCtrl::FireMouseInt(std::int32_t value) {
  if constexpr (!kVariantG) FireEvent(event::MouseInt, {value});
}

void MirtalCtrl::FireMouse(bool down) {
  if constexpr (kVariantG) FireEvent(event::Mouse, {down});
}

void MirtalCtrl::Run(bool dir, bool start) {
  bool& flag = dir ? motion_.down : motion_.up;
  if (start) {
    FireMouse(true);
    FireMouseInt(1);
    if (!flag) BeginTurning(flag, kRepeatTimer);
  } else {
    FireMouse(false);
    FireMouseInt(0);
    if (flag) EndTurning(flag);
  }
}

void MirtalCtrl::mousePressEvent(QMouseEvent* event) {
  if (tooltip_) tooltip_->Relay(event);
  if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) {
    ole::Control::mousePressEvent(event);
    return;
  }
  FireMouse(true);
  BeginTurning(event->button() == Qt::LeftButton ? motion_.down : motion_.up, kRepeatTimer);
  FireMouseInt(1);
  event->accept();  // the widget keeps the mouse until the release
}

void MirtalCtrl::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) {
    ole::Control::mouseReleaseEvent(event);
    return;
  }
  FireMouse(false);
  bool& flag = event->button() == Qt::LeftButton ? motion_.down : motion_.up;
  if (flag) EndTurning(flag);
  FireMouseInt(0);
  event->accept();
}

void MirtalCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  if (tooltip_) tooltip_->Relay(event);
  if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) {
    event->ignore();
    return;
  }
  bool& flag = event->button() == Qt::LeftButton ? motion_.down : motion_.up;
  if constexpr (kVariantG) {
    // Turns on like a press until the button is released.
    FireMouse(true);
    BeginTurning(flag, kRepeatTimer);
  } else {
    // One step after one interval, unless the button is released first.
    BeginTurning(flag, kDoubleClickTimer);
  }
  event->accept();
}

void MirtalCtrl::OnTimer(int id) {
  // A tick only asks for a repaint; the repaint takes the step. Ticks that come before the
  // repaint give one step between them.
  motion_.tickDue = true;
  InvalidateControl();
  if (activeTimer_ == kDoubleClickTimer) {
    KillTimer(kDoubleClickTimer);
    FireMouseInt(0);
  }
}

// ---- drawing

void MirtalCtrl::FirstDrawing() {
  pictures_.Load();
  const Face face = FaceForMode(mode_);
  if constexpr (kVariantG) {
    if (face == Face::Small) motion_.position = 30;
    if (face != Face::None) motion_.value = 0;
  } else {
    if (face == Face::Small) motion_.position = 30;
    motion_.value = 0;
  }
  // A stored speed of 0 or below would give no interval at all; the present one stays.
  if (timer_ > 0) interval_ = std::max(1, 1000 / timer_);
}

void MirtalCtrl::paintEvent(QPaintEvent*) {
  if (!pictures_.IsLoaded()) FirstDrawing();
  const Face face = FaceForMode(mode_);
  const StepSizes sizes{step_, bigStep_, upRange_, dnRange_};
  const bool shift = (motion_.down || motion_.up) && ole::IsShiftDown();
  if (StepOnRepaint(face, motion_, sizes, shift)) pictures_.Compose(face, motion_.position);
  {
    QPainter painter(this);
    const QColor background = palette().color(QPalette::Window);
    if (face == Face::None)
      painter.fillRect(rect(), background);  // a mode without a knob shows none, not the last one
    else
      pictures_.CopyTo(painter, rect(), background);  // halted: the knob stays as last drawn
  }
  FireEvent(event::GetValue, {motion_.value});
}

// ---- window

void MirtalCtrl::OnCreated() {
  tooltip_ = std::make_unique<ole::ToolTip>(this);
  tooltip_->UpdateText(QString::fromStdString(toolTipText_));
  if (showToolTip_) tooltip_->Activate(true);
}

bool MirtalCtrl::event(QEvent* event) {
  if (tooltip_ && event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick &&
      tooltip_->Relay(event))
    return true;
  return ole::Control::event(event);
}

void MirtalCtrl::ShowAboutBox() {
  ole::AboutBox box(QStringLiteral("About Mirtal Control"), QStringLiteral("Mirtal Control, Version 1.0"), this);
  box.exec();
}

}  // namespace mirtal
