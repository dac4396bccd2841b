#include "platform/ole/Control.h"

#include <QResizeEvent>
#include <QTimerEvent>
#include <algorithm>
#include <cmath>

namespace ole {
namespace {

// 0.01 mm per pixel at 96 pixels per inch, rounded to the nearest unit.
std::int32_t PixelsToHimetric(int pixels) {
  return static_cast<std::int32_t>(std::lround(pixels * 2540.0 / 96.0));
}

}  // namespace

Control::Control(std::uint32_t storedVersion) : QWidget(nullptr), storedVersion_(storedVersion) {
  // Every repaint copies one finished picture, so nothing needs erasing beneath it.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

Control::~Control() {
  for (const auto& t : timers_) killTimer(t.nativeId);
}

HRESULT Control::GetIDsOfNames(const std::vector<std::string>& names, std::vector<DispId>& ids) const {
  const TypeInfo* info = GetTypeInfo();
  if (!info) {
    ids.assign(names.size(), DISPID_UNKNOWN);
    return E_NOTIMPL;
  }
  return info->GetIDsOfNames(names, ids);
}

void Control::ExchangeAll(PropExchange& px) {
  std::uint32_t version = storedVersion_;
  std::uint32_t stockProps = 0;  // no stock properties
  px.UInt32("_Version", version, storedVersion_);
  px.Int32("_ExtentX", extentX_, extentX_);
  px.Int32("_ExtentY", extentY_, extentY_);
  px.UInt32("_StockProps", stockProps, 0);
  DoPropExchange(px);
}

HRESULT Control::LoadWith(PropExchange& px, const std::function<bool()>& complete) {
  // Keep the present state so that a stored form that breaks off midway changes nothing.
  MemoryPropertyBag before;
  const std::int32_t ex = extentX_, ey = extentY_;
  {
    BagExchange save(static_cast<PropertyBag&>(before));
    DoPropExchange(save);
  }
  ExchangeAll(px);
  if (!complete()) {
    BagExchange restore(static_cast<const PropertyBag&>(before));
    DoPropExchange(restore);
    extentX_ = ex;
    extentY_ = ey;
    return STG_E_READFAULT;
  }
  modified_ = false;
  OnLoaded();
  InvalidateControl();
  return S_OK;
}

HRESULT Control::InitNew() {
  OnResetState();
  modified_ = false;
  return S_OK;
}

HRESULT Control::LoadFromStream(std::span<const std::uint8_t> bytes) {
  StreamReader reader(bytes);
  return LoadWith(reader, [&] { return reader.Complete(); });
}

std::vector<std::uint8_t> Control::SaveToStream() {
  StreamWriter writer;
  ExchangeAll(writer);
  modified_ = false;
  return writer.bytes();
}

HRESULT Control::LoadFromBag(const PropertyBag& bag) {
  BagExchange exchange(bag);
  return LoadWith(exchange, [&] { return exchange.ok(); });
}

void Control::SaveToBag(PropertyBag& bag) {
  BagExchange exchange(bag);
  ExchangeAll(exchange);
  modified_ = false;
}

void Control::ResetState() {
  OnResetState();
  InvalidateControl();
}

void Control::ActivateInPlace(QWidget* parent, const QRect& geometry) {
  setParent(parent);
  setGeometry(geometry);
  // The resize event of a hidden widget waits until it is shown; the extent must not.
  extentX_ = PixelsToHimetric(geometry.width());
  extentY_ = PixelsToHimetric(geometry.height());
  if (!created_) {
    created_ = true;
    OnCreated();
  }
  show();
}

void Control::resizeEvent(QResizeEvent* event) {
  extentX_ = PixelsToHimetric(event->size().width());
  extentY_ = PixelsToHimetric(event->size().height());
  QWidget::resizeEvent(event);
}

bool Control::SetTimer(int id, int intervalMs) {
  KillTimer(id);
  int nativeId = startTimer(std::max(0, intervalMs));
  if (nativeId == 0) return false;
  timers_.push_back({id, nativeId, intervalMs});
  return true;
}

void Control::KillTimer(int id) {
  auto it = std::find_if(timers_.begin(), timers_.end(), [id](const WindowTimer& t) { return t.id == id; });
  if (it == timers_.end()) return;
  killTimer(it->nativeId);
  timers_.erase(it);
}

int Control::NativeTimerId(int id) const {
  for (const auto& t : timers_)
    if (t.id == id) return t.nativeId;
  return 0;
}

int Control::TimerInterval(int id) const {
  for (const auto& t : timers_)
    if (t.id == id) return t.interval;
  return -1;
}

void Control::timerEvent(QTimerEvent* event) {
  for (const auto& t : timers_) {
    if (t.nativeId == event->timerId()) {
      OnTimer(t.id);
      return;
    }
  }
  QWidget::timerEvent(event);
}

}  // namespace ole
