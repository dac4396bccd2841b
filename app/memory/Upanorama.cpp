#include "app/memory/Upanorama.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/link/Ucmd.h"
#include "app/panel/Umain.h"
#include "app/spectrum/Uspectr.h"

TPanorama* Panorama = nullptr;

namespace {

constexpr int32_t kMinHz = 1000000, kMaxHz = 30000000;
constexpr int kUsbTickMs = 50, kSerialTickMs = 100;
constexpr int kSettleMs = 25;  // after tuning to the first point, before the first tick
constexpr int32_t kInitialLevel = -20;
constexpr int kLeftX = 25;   // column 0 of the trace
constexpr int kTopY = 20, kBottomY = 160;
constexpr int kZeroDbY = 140;  // one pixel per dB: 120 dB at y 20, −20 dB at y 160

constexpr QRgb kGray = 0x808080, kYellow = 0xFFFF00, kLime = 0x00FF00, kRed = 0xFF0000, kBlue = 0x0000FF;

struct LevelLabel { const char* text; int leftX; int rightX; int y; };
constexpr LevelLabel kLevelLabels[] = {
    {"120", 2, 427, 13}, {"100", 2, 427, 33}, {"80", 6, 431, 53}, {"60", 6, 431, 73},
    {"40", 6, 431, 93},  {"20", 6, 431, 113}, {"0", 10, 435, 133}, {"-20", 4, 429, 153},
};

QString Kilohertz(const char* prefix, int32_t hz, const char* suffix) {
  char text[48];
  std::snprintf(text, sizeof text, "%s%5d.%03d%s", prefix, hz / 1000, hz % 1000, suffix);
  return QString::fromUtf8(text);
}

template <class W>
W* Place(W* w, QRect place, const QString& hint = {}) {
  w->setGeometry(place);
  if (!hint.isEmpty()) w->setToolTip(hint);
  return w;
}

}  // namespace

TPanorama::TPanorama() : TToolWindow("TPanorama", "Амплитудно-частотная панорама", {454, 223}) {
  Panorama = this;
  CreateControls();
  ConnectHandlers();
  PanCursor = 25;
  SetPersisted({"F1.Value", "F2.Value", "NumFreqs.ItemIndex"});
  Storage()->Restore(ProgramIni());
  BuildFrequencyTable();
  PanLevels.fill(kInitialLevel);
}

void TPanorama::CreateControls() {
  PanWin = Place(new TImage(this, "PanWin", {450, 180}), {2, 2, 450, 180});
  PanWin->setAccessibleName("Панорама");
  constexpr int kRowY = 192;
  LblF1 = Place(new QLabel("Fн", this), {6, kRowY + 3, 16, 16}, "Начальная частота");
  F1 = Place(new TSpinEdit(this, "F1", kMinHz, kMaxHz, kMinHz, 1000), {22, kRowY, 92, 22}, "Начальная частота");
  F1->setAccessibleName("Fн");
  LblF2 = Place(new QLabel("Fк", this), {122, kRowY + 3, 16, 16}, "Конечная частота");
  F2 = Place(new TSpinEdit(this, "F2", kMinHz, kMaxHz, kMaxHz, 1000), {138, kRowY, 92, 22}, "Конечная частота");
  F2->setAccessibleName("Fк");
  const QString pointsHint = "Количество частот, на которых\r\nпроизводятся измерения";
  LblNumFreqs = Place(new QLabel("Кол.\r\nточек", this), {240, kRowY - 4, 40, 30}, pointsHint);
  NumFreqs = Place(new TComboBox(this, "NumFreqs", {"100", "200", "400"}, 0), {282, kRowY, 60, 22}, pointsHint);
  LblNumFreqs->setBuddy(NumFreqs);  // a combo box is named by its caption on the accessibility bus
  Start = Place(new TPictureButton(this, "Start", "Пуск", TPictureButton::Kind::Push), {372, kRowY - 4, 76, 30},
                "Начать измерения");
  PanTimer = new QTimer(this);
  PanTimer->setObjectName("PanTimer");
  PanTimer->setInterval(kUsbTickMs);
  PanTimer->setTimerType(Qt::PreciseTimer);  // the sweep's pace is the point's dwell time
  PanSettle = new QTimer(this);
  PanSettle->setSingleShot(true);
  PanSettle->setInterval(kSettleMs);
}

void TPanorama::ConnectHandlers() {
  Start->OnClick = [this] { StartClick(); };
  connect(PanTimer, &QTimer::timeout, this, [this] { PanTimerTimer(); });
  connect(PanSettle, &QTimer::timeout, PanTimer, qOverload<>(&QTimer::start));
  PanWin->OnMouseDown = [this](Qt::MouseButton b, QPoint at) { PanWinMouseDown(b, at.x()); };
  FormShow = [this] { OnFormShow(); };
  FormClose = [this] { OnFormClose(); };
}

int TPanorama::PointCount() const {
  static constexpr int kCounts[3] = {100, 200, 400};
  const int i = NumFreqs->ItemIndex();
  return kCounts[i >= 0 && i < 3 ? i : 0];
}

void TPanorama::BuildFrequencyTable() {
  const int n = PointCount();
  const int32_t f1 = F1->Value();
  // trunc((F2 − F1) × c) with c = 1/N as the fractions 0.01, 0.005, 0.0025.
  const double c = 1.0 / n;
  const auto step = static_cast<int32_t>((F2->Value() - f1) * c);
  const int width = kPanColumns / n;
  for (int k = 0; k < n; ++k)
    for (int j = 0; j < width; ++j) PanFrequencies[size_t(k * width + j)] = f1 + step * k;
}

void TPanorama::SetInputsEnabled(bool enabled) {
  for (QWidget* w : std::initializer_list<QWidget*>{Start, F1, F2, NumFreqs}) w->setEnabled(enabled);
}

void TPanorama::OnFormShow() {
  PanSettle->stop();
  PanTimer->stop();
  SetInputsEnabled(true);
  DrawPanorama();
}

// Out-of-range values go to the range's ends and a reversed range is swapped, in the edits.
void TPanorama::CorrectInputs() {
  for (TSpinEdit* e : {F1, F2}) e->interpretText();  // a typed value not yet confirmed counts
  if (F2->Value() > kMaxHz || F2->Value() < kMinHz) F2->SetValue(kMaxHz);
  if (F1->Value() > kMaxHz || F1->Value() < kMinHz) F1->SetValue(kMinHz);
  if (F1->Value() > F2->Value()) {
    const int32_t f1 = F1->Value();
    F1->SetValue(F2->Value());
    F2->SetValue(f1);
  }
}

void TPanorama::StartClick() {
  if (!Main) return;
  PanTimer->setInterval(Main->LinkKind == cmd::kLinkUsb ? kUsbTickMs : kSerialTickMs);
  PanIndex = 0;
  CorrectInputs();
  const int32_t shownkHz = Main->FreqkHz->Value();
  if (shownkHz >= 1000 && shownkHz <= 30000) {
    PanReturnkHz = shownkHz;
    PanReturnHz = Main->FreqHz->Value();
  } else {
    PanReturnkHz = F2->Value() / 1000;
    PanReturnHz = F2->Value() % 1000;
  }
  BuildFrequencyTable();
  Main->TuneTo(PanFrequencies[0]);
  // The inputs are locked at once, so that no second sweep starts during the wait.
  SetInputsEnabled(false);
  PanSettle->start();
}

void TPanorama::PanTimerTimer() {
  if (!Main) return;
  const int width = kPanColumns / PointCount();
  for (int j = 0; j < width && PanIndex < kPanColumns; ++j) PanLevels[size_t(PanIndex++)] = Main->ReportedLevel;
  DrawPanorama();
  if (PanIndex >= kPanColumns) {
    PanTimer->stop();
    SetInputsEnabled(true);
    Main->TuneTo(PanReturnkHz * 1000 + PanReturnHz);
    return;
  }
  Main->TuneTo(PanFrequencies[size_t(PanIndex)]);
}

void TPanorama::PanWinMouseDown(Qt::MouseButton button, int x) {
  if (button != Qt::LeftButton || x < kLeftX || x >= kLeftX + kPanColumns || !Start->isEnabled()) return;
  PanCursor = x - kLeftX;
  DrawPanorama();
  if (Main) Main->TuneTo(PanFrequencies[size_t(PanCursor)]);
}

void TPanorama::OnFormClose() {
  PanSettle->stop();
  PanTimer->stop();
  if (Main) Main->BtnPan->SetDown(false);
}

void TPanorama::DrawPanorama() {
  QImage& picture = PanWin->Picture();
  QPainter p(&picture);
  p.fillRect(0, 0, 450, 180, Qt::black);

  p.setPen(QPen(QColor(kGray), 1, Qt::DotLine));
  for (int y = kTopY; y <= kBottomY; y += 20) p.drawLine(kLeftX, y, kLeftX + kPanColumns, y);
  for (int x = kLeftX; x <= kLeftX + kPanColumns; x += 100) p.drawLine(x, kTopY, x, kBottomY);

  p.setFont(PictureFont());
  p.setPen(QColor(kYellow));
  for (const auto& l : kLevelLabels) {
    DrawTextAt(p, l.leftX, l.y, l.text);
    DrawTextAt(p, l.rightX, l.y, l.text);
  }
  const int32_t f1 = F1->Value(), f2 = F2->Value();
  DrawTextAt(p, 25, 165, Kilohertz("", f1, ""));
  DrawTextAt(p, 200, 165, Kilohertz("", static_cast<int32_t>((int64_t(f1) + f2) / 2), ""));
  DrawTextAt(p, 375, 165, Kilohertz("", f2, ""));

  std::array<QPoint, kPanColumns> trace;
  for (int k = 0; k < kPanColumns; ++k) {
    const int64_t y = int64_t(kZeroDbY) - PanLevels[size_t(k)];
    trace[size_t(k)] = QPoint(k + kLeftX, int(std::clamp<int64_t>(y, kTopY, kBottomY)));
  }
  p.setPen(QColor(kLime));
  p.drawPolyline(trace.data(), kPanColumns);

  p.setPen(QColor(kRed));
  p.drawLine(PanCursor + kLeftX, 18, PanCursor + kLeftX, 162);

  p.setPen(QColor(kYellow));
  DrawTextAt(p, 130, 1, Kilohertz("F = ", PanFrequencies[size_t(PanCursor)], " Гц"));
  char level[32];
  std::snprintf(level, sizeof level, "L = %4d дБ", PanLevels[size_t(PanCursor)]);
  DrawTextAt(p, 270, 1, QString::fromUtf8(level));

  p.setPen(QColor(kBlue));
  p.drawLine(kLeftX, 16, PanIndex + kLeftX, 16);
  p.end();
  PanWin->Changed();
}
