// The waterfall window: picture, scales, level sliders, tuning by click, persistence.
#include "app/spectrum/Uwaterfall.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "app/panel/Umain.h"

TWaterfall* Waterfall = nullptr;

namespace {

constexpr QSize kDefaultSize{580, 420};
constexpr QSize kMinimumSize{260, 200};
constexpr int kTimeScaleWidth = 44;
constexpr int kFrequencyScaleHeight = 20;
constexpr int kTickLength = 4;
constexpr int kTimeLabelSpacing = 40;  // pixels between two time labels at the least
constexpr int kLevelSpanDb = 120;      // the spectrum's logarithmic scale, bottom line to top row
constexpr int32_t kMinHz = 1000000, kMaxHz = 30000000;
constexpr QRgb kYellow = 0xFFFF00;

}  // namespace

// The persisted size and open state of the window, as properties the persisted-properties
// store reads and writes by name ("Form.Width", "Form.Height", "Form.Open").
class WaterfallForm : public QObject {
  Q_OBJECT
  Q_PROPERTY(int width READ Width WRITE SetWidth)
  Q_PROPERTY(int height READ Height WRITE SetHeight)
  Q_PROPERTY(bool open READ Open WRITE SetOpen)
 public:
  explicit WaterfallForm(TWaterfall* w) : QObject(w), w_(w) { setObjectName("Form"); }
  int Width() const { return w_->width(); }
  int Height() const { return w_->height(); }
  void SetWidth(int v) { w_->resize(v, w_->height()); }
  void SetHeight(int v) { w_->resize(w_->width(), v); }
  // Read at saving: whether it shows. Restored as a wish, fulfilled by ReopenAtStart.
  bool Open() const { return w_->isVisible(); }
  void SetOpen(bool v) { w_->reopen_ = v; }

 private:
  TWaterfall* w_;
};

namespace {

int64_t SteadyMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

// ---- The picture --------------------------------------------------------------------------

WaterfallPicture::WaterfallPicture(QWidget* parent, WaterfallRows& rows) : QWidget(parent), rows_(rows) {
  setObjectName("WfPicture");
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(Qt::CrossCursor);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setMinimumSize(64, 32);
}

int WaterfallPicture::ColumnAt(int x) const {
  return std::clamp(int(int64_t(x) * WaterfallRows::kColumns / std::max(width(), 1)), 0, WaterfallRows::kColumns - 1);
}

void WaterfallPicture::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int shown = std::min(rows_.Count(), height());
  // The ring in two pieces: from the newest row to the ring's end, then from its start.
  const int first = std::min(shown, rows_.Capacity() - rows_.Head());
  if (first > 0) p.drawImage(QRect(0, 0, width(), first), rows_.Ring(), QRect(0, rows_.Head(), WaterfallRows::kColumns, first));
  if (shown > first)
    p.drawImage(QRect(0, first, width(), shown - first), rows_.Ring(), QRect(0, 0, WaterfallRows::kColumns, shown - first));
  if (shown < height()) p.fillRect(0, shown, width(), height() - shown, Qt::black);
}

void WaterfallPicture::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  rows_.Resize(e->size().height());  // one ring row per pixel row; the newest rows stay
}

void WaterfallPicture::mousePressEvent(QMouseEvent* e) {
  if (OnMouseDown) OnMouseDown(e->button(), e->position().toPoint());
}

// ---- The scales ---------------------------------------------------------------------------

WaterfallFrequencyScale::WaterfallFrequencyScale(QWidget* parent) : QWidget(parent) {
  setObjectName("FScale");
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFixedHeight(kFrequencyScaleHeight);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void WaterfallFrequencyScale::SetTuning(const WaterfallTuning& t) {
  if (t.SameColumns(tuning_)) return;
  tuning_ = t;
  update();
}

void WaterfallFrequencyScale::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  if (tuning_.fc == 0) return;  // no row yet
  p.setFont(PictureFont());
  p.setPen(QColor(kYellow));
  const int d = std::max(tuning_.decimation, 1);
  for (int t = 0; t < 5; ++t) {
    // The middle of the tick's column, stretched as the picture is.
    const int x = int((kFrequencyTickX[t] * 2 + 1) * int64_t(width()) / (2 * WaterfallRows::kColumns));
    char label[24];
    FormatKilohertz(label, sizeof label, "", tuning_.fc + kFrequencyTickOffsetHz[t] / d, "");
    const QString text = QString::fromLatin1(label).trimmed();
    const int w = p.fontMetrics().horizontalAdvance(text);
    p.drawLine(x, 0, x, kTickLength - 1);
    DrawTextAt(p, std::clamp(x - w / 2, 0, std::max(0, width() - w)), kTickLength + 1, text);
  }
}

WaterfallTimeScale::WaterfallTimeScale(QWidget* parent, const WaterfallRows& rows) : QWidget(parent), rows_(rows) {
  setObjectName("TScale");
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFixedWidth(kTimeScaleWidth);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  setToolTip("Время, секунд назад");
  setAccessibleName("Шкала времени");
}

int TimeScaleStep(const WaterfallRows& rows, int minPixels) {
  const int n = rows.Count();
  if (n < 2) return 0;
  const int64_t span = rows.Info(0).timeMs - rows.Info(n - 1).timeMs;
  if (span <= 0) return 0;
  static constexpr int kSteps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 1800, 3600};
  for (int step : kSteps)
    if (int64_t(step) * 1000 * (n - 1) >= int64_t(minPixels) * span) return step;
  return kSteps[std::size(kSteps) - 1];
}

void WaterfallTimeScale::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  const int n = std::min(rows_.Count(), height());
  if (n == 0) return;
  p.setFont(PictureFont());
  p.setPen(QColor(kYellow));
  const int ascent = p.fontMetrics().ascent();
  const int step = TimeScaleStep(rows_, kTimeLabelSpacing);
  const int64_t newest = rows_.Info(0).timeMs;
  int64_t next = 0;  // seconds of the next label
  for (int r = 0; r < n; ++r) {
    if ((newest - rows_.Info(r).timeMs) < next * 1000) continue;
    const QString text = next == 0 ? QStringLiteral("0 с") : QString::number(next) + " с";
    p.drawLine(width() - kTickLength, r, width() - 1, r);
    const int w = p.fontMetrics().horizontalAdvance(text);
    DrawTextAt(p, width() - kTickLength - 2 - w, std::clamp(r - ascent / 2, 0, std::max(0, height() - ascent)), text);
    if (step == 0) break;
    next += step;
  }
}

// ---- The window ---------------------------------------------------------------------------

TWaterfall::TWaterfall() : TToolWindow("TWaterfall", "Водопад", {}), Rows(kDefaultSize.height()) {
  Waterfall = this;
  Clock = SteadyMilliseconds;
  CreateControls();
  ConnectHandlers();
  setMinimumSize(kMinimumSize);
  resize(kDefaultSize);
  new WaterfallForm(this);
  SetPersisted({"Form.Width", "Form.Height", "Form.Open", "SldLow.Position", "SldHigh.Position"});
  Storage()->Restore(ProgramIni());
  SldLowChange();
}

void TWaterfall::CreateControls() {
  TScale = new WaterfallTimeScale(this, Rows);
  WfPicture = new WaterfallPicture(this, Rows);
  WfPicture->setAccessibleName("Водопад");
  FScale = new WaterfallFrequencyScale(this);
  FScale->setAccessibleName("Шкала частоты");

  auto slider = [this](const char* name, int min, int max, int value, const QString& accessible) {
    auto* s = new QSlider(Qt::Horizontal, this);
    s->setObjectName(name);
    s->setRange(min, max);
    s->setValue(value);
    s->setAccessibleName(accessible);
    return s;
  };
  auto label = [this](const char* name) {
    auto* l = new QLabel(this);
    l->setObjectName(name);
    l->setMinimumWidth(84);
    return l;
  };
  LblLow = label("LblLow");
  SldLow = slider("SldLow", 0, kLevelSpanDb - 1, 0, "Нижний уровень");
  SldLow->setToolTip("Уровень, которому отвечает первый цвет");
  LblHigh = label("LblHigh");
  SldHigh = slider("SldHigh", 1, kLevelSpanDb, kLevelSpanDb, "Верхний уровень");
  SldHigh->setToolTip("Уровень, которому отвечает последний цвет");
  LblLow->setBuddy(SldLow);
  LblHigh->setBuddy(SldHigh);

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(2, 2, 2, 2);
  grid->setHorizontalSpacing(0);
  grid->setVerticalSpacing(0);
  grid->addWidget(TScale, 0, 0);
  grid->addWidget(WfPicture, 0, 1);
  grid->addWidget(FScale, 1, 1);
  auto* levels = new QHBoxLayout;
  levels->setContentsMargins(0, 4, 0, 0);
  levels->addWidget(LblLow);
  levels->addWidget(SldLow, 1);
  levels->addSpacing(8);
  levels->addWidget(LblHigh);
  levels->addWidget(SldHigh, 1);
  grid->addLayout(levels, 2, 0, 1, 2);
  grid->setRowStretch(0, 1);
  grid->setColumnStretch(1, 1);
}

void TWaterfall::ConnectHandlers() {
  WfPicture->OnMouseDown = [this](Qt::MouseButton b, QPoint at) { WfPictureMouseDown(b, at); };
  connect(SldLow, &QSlider::valueChanged, this, [this] { SldLowChange(); });
  connect(SldHigh, &QSlider::valueChanged, this, [this] { SldHighChange(); });
}

void TWaterfall::AddSpectrumRow(const double* magnitudes, const SpectrumControls& c, int32_t reportedGain) {
  const WaterfallTuning tuning{c.fc, DecimationFactor(c), c.mashtabIndex == 0};
  Rows.AddRow(magnitudes, tuning, Clock());
  FScale->SetTuning(tuning);
  const int gain = GainOffset(c, reportedGain);
  if (gain != gain_ || tuning.logarithmic != logarithmic_) {
    gain_ = gain;
    logarithmic_ = tuning.logarithmic;
    ShowLevels();
  }
  WfPicture->update();
  TScale->update();
}

void TWaterfall::Toggle() {
  if (isVisible()) close();
  else ShowAndRaise();
}

void TWaterfall::ReopenAtStart() {
  if (reopen_) ShowAndRaise();
}

void TWaterfall::WfPictureMouseDown(Qt::MouseButton button, QPoint at) {
  if (button != Qt::LeftButton || !TuneTo) return;
  const auto f = Rows.ColumnFrequency(at.y(), WfPicture->ColumnAt(at.x()));
  if (!f) return;  // a change line, or no row there yet
  // The picture's edges can lie beyond the receiver's range; tune to the nearest end.
  TuneTo(std::clamp(*f, kMinHz, kMaxHz));
}

// The two ends stay at least 1 dB apart: moving one past the other pushes the other along.
void TWaterfall::SldLowChange() {
  if (SldHigh->value() <= SldLow->value()) SldHigh->setValue(SldLow->value() + 1);
  Rows.SetRange(SldLow->value() / double(kLevelSpanDb), SldHigh->value() / double(kLevelSpanDb));
  ShowLevels();
}

void TWaterfall::SldHighChange() {
  if (SldLow->value() >= SldHigh->value()) SldLow->setValue(SldHigh->value() - 1);
  Rows.SetRange(SldLow->value() / double(kLevelSpanDb), SldHigh->value() / double(kLevelSpanDb));
  ShowLevels();
}

void TWaterfall::ShowLevels() {
  // Logarithmic view: the absolute level, as the spectrum's level scale reads it. Linear
  // view: dB below the strongest bin of the row.
  auto text = [this](const char* name, int position) {
    if (logarithmic_) return QString("%1 %2 дБ").arg(name).arg(kLevelTopDb - gain_ - kLevelSpanDb + position);
    if (position == 0) return QString("%1 -∞ дБ").arg(name);
    return QString("%1 %2 дБ").arg(name).arg(std::lround(20 * std::log10(position / double(kLevelSpanDb))));
  };
  LblLow->setText(text("Низ", SldLow->value()));
  LblHigh->setText(text("Верх", SldHigh->value()));
}

#include "Uwaterfall.moc"
