#include "app/dsp/UdecoderPane.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

namespace {
constexpr int kMargin = 3;
}

TMessagePane::TMessagePane(QWidget* parent) : QAbstractScrollArea(parent), advances_(0x10000, -1) {
  QFont f = QApplication::font();
  f.setPixelSize(13);
  f.setBold(true);
  // Runs of text are drawn as wide as their characters add up to, which wrapping and the
  // mouse rely on.
  f.setKerning(false);
  f.setStyleStrategy(QFont::PreferNoShaping);
  setFont(f);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);  // lines wrap to the width
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setBackgroundRole(QPalette::Base);
}

int TMessagePane::Advance(QChar c) const {
  int16_t& a = advances_[c.unicode()];
  if (a < 0) a = int16_t(fontMetrics().horizontalAdvance(c));
  return a;
}

int TMessagePane::Available() const { return std::max(viewport()->width() - 2 * kMargin, 1); }

int TMessagePane::RowEnd(size_t row) const {
  if (row + 1 < rows_.size() && rows_[row + 1].line == rows_[row].line) return rows_[row + 1].start;
  return int(lines_[size_t(rows_[row].line)].size());
}

void TMessagePane::AppendChar(QChar c) {
  if (c == QChar('\n')) {
    lines_.emplace_back();
    rows_.push_back({int(lines_.size()) - 1, 0});
    lastRowWidth_ = 0;
    ++characters_;
    return;
  }
  if (c.unicode() < 0x20 || c.unicode() == 0x7F) return;
  QString& line = lines_.back();
  line.append(c);
  ++characters_;
  lastRowWidth_ += Advance(c);
  Row& last = rows_.back();
  const int end = int(line.size());
  if (lastRowWidth_ <= Available() || end - last.start <= 1) return;
  // Overflow: the row breaks after its last blank, or before the new character when the row
  // is one word. Only the last row is looked at.
  int start = end - 1;
  for (int i = end - 2; i > last.start; --i)
    if (line[i] == QChar(' ')) {
      start = i + 1;
      break;
    }
  rows_.push_back({last.line, start});
  lastRowWidth_ = 0;
  for (int i = start; i < end; ++i) lastRowWidth_ += Advance(line[i]);
}

void TMessagePane::Append(const QString& text) {
  QScrollBar* bar = verticalScrollBar();
  const bool following = bar->value() >= bar->maximum();
  for (QChar c : text) AppendChar(c);
  UpdateScrollRange();
  if (following) bar->setValue(bar->maximum());
  viewport()->update();
}

void TMessagePane::Clear() {
  lines_.assign(1, QString());
  rows_.assign(1, Row{0, 0});
  lastRowWidth_ = 0;
  characters_ = 0;
  anchor_ = caret_ = {};
  UpdateScrollRange();
  viewport()->update();
}

void TMessagePane::Rewrap() {
  std::vector<QString> lines;
  lines.swap(lines_);
  lines_.assign(1, QString());
  rows_.assign(1, Row{0, 0});
  lastRowWidth_ = 0;
  characters_ = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) AppendChar(QChar('\n'));
    for (QChar c : lines[i]) AppendChar(c);
  }
  UpdateScrollRange();
}

void TMessagePane::UpdateScrollRange() {
  const int visible = std::max(viewport()->height() / fontMetrics().lineSpacing(), 1);
  QScrollBar* bar = verticalScrollBar();
  bar->setPageStep(visible);
  bar->setRange(0, std::max(int(rows_.size()) - visible, 0));
}

void TMessagePane::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  QScrollBar* bar = verticalScrollBar();
  const bool following = bar->value() >= bar->maximum();
  Rewrap();
  if (following) bar->setValue(bar->maximum());
}

void TMessagePane::changeEvent(QEvent* e) {
  QAbstractScrollArea::changeEvent(e);
  if (e->type() == QEvent::FontChange) {
    std::fill(advances_.begin(), advances_.end(), int16_t(-1));
    Rewrap();
  }
}

QString TMessagePane::Text() const {
  QString out;
  out.reserve(characters_);
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (i > 0) out.append('\n');
    out.append(lines_[i]);
  }
  return out;
}

QString TMessagePane::Between(Position from, Position to) const {
  if (to < from) std::swap(from, to);
  QString out;
  for (int line = from.line; line <= to.line; ++line) {
    const QString& text = lines_[size_t(line)];
    const int begin = line == from.line ? from.offset : 0;
    const int end = line == to.line ? to.offset : int(text.size());
    out.append(text.mid(begin, end - begin));
    if (line != to.line) out.append('\n');
  }
  return out;
}

QString TMessagePane::SelectedText() const { return Between(anchor_, caret_); }

void TMessagePane::SelectAll() {
  anchor_ = {};
  caret_ = {int(lines_.size()) - 1, int(lines_.back().size())};
  viewport()->update();
}

void TMessagePane::Copy() const {
  const QString text = SelectedText();
  if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

TMessagePane::Position TMessagePane::Hit(QPoint p) const {
  const int spacing = fontMetrics().lineSpacing();
  const int row = std::clamp(verticalScrollBar()->value() + std::max(p.y() - kMargin, 0) / spacing, 0,
                             int(rows_.size()) - 1);
  const Row& r = rows_[size_t(row)];
  const QString& line = lines_[size_t(r.line)];
  const int end = RowEnd(size_t(row));
  int x = kMargin, offset = r.start;
  while (offset < end) {
    const int a = Advance(line[offset]);
    if (p.x() < x + a / 2) break;
    x += a;
    ++offset;
  }
  return {r.line, offset};
}

void TMessagePane::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  caret_ = Hit(e->position().toPoint());
  if (!(e->modifiers() & Qt::ShiftModifier)) anchor_ = caret_;
  viewport()->update();
}

void TMessagePane::mouseMoveEvent(QMouseEvent* e) {
  if (!(e->buttons() & Qt::LeftButton)) return;
  const QPoint p = e->position().toPoint();
  QScrollBar* bar = verticalScrollBar();
  if (p.y() < 0) bar->setValue(bar->value() - 1);
  if (p.y() > viewport()->height()) bar->setValue(bar->value() + 1);
  caret_ = Hit(p);
  viewport()->update();
}

void TMessagePane::keyPressEvent(QKeyEvent* e) {
  if (e->matches(QKeySequence::Copy)) Copy();
  else if (e->matches(QKeySequence::SelectAll)) SelectAll();
  else if (e->matches(QKeySequence::MoveToStartOfDocument)) verticalScrollBar()->setValue(0);
  else if (e->matches(QKeySequence::MoveToEndOfDocument)) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  else QAbstractScrollArea::keyPressEvent(e);  // arrows and pages scroll
  viewport()->update();
}

void TMessagePane::contextMenuEvent(QContextMenuEvent* e) {
  QMenu menu(this);
  QAction* copy = menu.addAction("Копировать", this, [this] { Copy(); });
  copy->setEnabled(anchor_ != caret_);
  menu.addAction("Выделить все", this, [this] { SelectAll(); });
  menu.exec(e->globalPos());
}

void TMessagePane::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  const QFontMetrics fm = fontMetrics();
  const int spacing = fm.lineSpacing();
  const Position from = std::min(anchor_, caret_), to = std::max(anchor_, caret_);
  const QPalette& pal = palette();
  int y = kMargin;
  for (size_t row = size_t(verticalScrollBar()->value()); row < rows_.size() && y < viewport()->height();
       ++row, y += spacing) {
    const Row& r = rows_[row];
    const QString& line = lines_[size_t(r.line)];
    const int end = RowEnd(row);
    // The row in up to three runs: before the selection, in it, after it.
    auto clampToRow = [&](Position at) {
      return at.line < r.line ? r.start : at.line > r.line ? end : std::clamp(at.offset, r.start, end);
    };
    const int cuts[] = {r.start, clampToRow(from), clampToRow(to), end};
    int x = kMargin;
    for (int run = 0; run < 3; ++run) {
      if (cuts[run] >= cuts[run + 1]) continue;
      int width = 0;
      for (int i = cuts[run]; i < cuts[run + 1]; ++i) width += Advance(line[i]);
      const bool selected = run == 1;
      if (selected) p.fillRect(x, y, width, spacing, pal.highlight());
      p.setPen(selected ? pal.highlightedText().color() : pal.text().color());
      p.drawText(x, y + fm.ascent(), line.mid(cuts[run], cuts[run + 1] - cuts[run]));
      x += width;
    }
  }
}
