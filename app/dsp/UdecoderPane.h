// The read-only text pane of the message window. It keeps every character it is given and
// wraps lines at blanks to its width. Appending costs the same however much text the pane
// already holds: only the last row is measured again, so a receiver decoding for days (a
// single line of hexadecimal pairs, say) never slows the window down. The operator can
// select with the mouse (or Ctrl+A) and copy (Ctrl+C or the context menu); appending leaves
// the selection alone and follows the end only while the view is at the end.
#pragma once

#include <QAbstractScrollArea>
#include <QString>
#include <compare>
#include <vector>

class TMessagePane : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit TMessagePane(QWidget* parent);

  // Appends at the end of the text. A line feed starts a new line; other control characters
  // (carriage return among them) add nothing.
  void Append(const QString& text);
  void Clear();

  // The text, lines joined by line feeds.
  QString Text() const;
  QString SelectedText() const;
  void SelectAll();
  void Copy() const;
  qsizetype CharacterCount() const { return characters_; }
  // The rows the text is shown in, for the layout's checks.
  int RowCount() const { return int(rows_.size()); }

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void changeEvent(QEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void keyPressEvent(QKeyEvent*) override;
  void contextMenuEvent(QContextMenuEvent*) override;

 private:
  struct Position {  // a place between characters: line, then offset in it
    int line = 0;
    int offset = 0;
    auto operator<=>(const Position&) const = default;
  };
  struct Row {  // one shown row: where it starts in its line
    int line;
    int start;
  };

  int Advance(QChar c) const;
  int Available() const;
  int RowEnd(size_t row) const;
  // Adds the character to the last line and wraps the last row when it overflows.
  void AppendChar(QChar c);
  void Rewrap();
  void UpdateScrollRange();
  Position Hit(QPoint p) const;
  QString Between(Position from, Position to) const;

  std::vector<QString> lines_{QString()};
  std::vector<Row> rows_{{0, 0}};
  int lastRowWidth_ = 0;  // pixels taken by the last row
  qsizetype characters_ = 0;
  Position anchor_, caret_;  // the selection runs between them
  mutable std::vector<int16_t> advances_;  // width of each character met so far, -1 unknown
};
