#include "app/dsp/Udebug.h"

#include <QEvent>
#include <QHeaderView>
#include <algorithm>

#include "app/link/Ucmd.h"
#include "app/panel/Umain.h"
#include "platform/win32/IniFile.h"

TDebug* Debug = nullptr;

namespace {

constexpr int kNum1Target = 100000, kNum2Target = 200000, kNum3Target = 300000;
constexpr const char* kByteMarks = "|                                  |                                  |";

QLabel* MakeLabel(QWidget* parent, const QString& text, QRect place) {
  auto* l = new QLabel(text, parent);
  l->setGeometry(place);
  return l;
}

// The spin box's value sent on an arrow click and on Enter.
void WireSpinEdit(TSpinEdit* edit, std::function<void()> send) {
  edit->OnArrowClick = send;
  edit->OnKeyDown = [edit, send](int key) {
    if (key != Qt::Key_Return && key != Qt::Key_Enter) return;
    edit->interpretText();  // the typed digits count, as the field shows them
    send();
  };
}

}  // namespace

TDebug::TDebug() : TToolWindow("TDebug", "Debug", {330, 276}) {
  ::Debug = this;
  Num1Label = MakeLabel(this, "1 (dec)", {8, 10, 60, 16});
  Num1 = new TSpinEdit(this, "Num1", 0, 65535, 0);
  Num1->setGeometry(70, 6, 90, 22);
  Num1->setAccessibleName("1 (dec)");
  Num2Label = MakeLabel(this, "2 (dec)", {8, 38, 60, 16});
  Num2 = new TSpinEdit(this, "Num2", 0, 65535, 0);
  Num2->setGeometry(70, 34, 90, 22);
  Num2->setAccessibleName("2 (dec)");

  // The marks stand over the byte boundaries: eight cells span the distance between two bars.
  const QString marks = kByteMarks;
  const int byteWidth = fontMetrics().horizontalAdvance(marks.left(marks.indexOf('|', 1)));
  const int cellWidth = std::max(12, (byteWidth + 4) / 8);
  const int barHalf = fontMetrics().horizontalAdvance('|') / 2;
  Num3Marks = MakeLabel(this, marks, {5 - barHalf, 62, 2 * byteWidth + 8, 12});
  Num3Marks->setObjectName("Num3Marks");
  Num3Label = MakeLabel(this, "3 (bin)", {8, 98, 60, 14});
  Num3 = new QTableWidget(1, kBits, this);
  Num3->setObjectName("Num3");
  Num3->setAccessibleName("3 (bin)");
  Num3->setGeometry(4, 76, kBits * cellWidth + 2, 22);
  Num3->horizontalHeader()->hide();
  Num3->verticalHeader()->hide();
  Num3->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Num3->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Num3->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Num3->setSelectionMode(QAbstractItemView::SingleSelection);
  Num3->horizontalHeader()->setMinimumSectionSize(1);
  for (int c = 0; c < kBits; ++c) {
    Num3->setColumnWidth(c, cellWidth);
    auto* item = new QTableWidgetItem("0");
    item->setTextAlignment(Qt::AlignCenter);
    Num3->setItem(0, c, item);
  }
  Num3->setRowHeight(0, 20);

  Debug = new QPlainTextEdit(this);
  Debug->setObjectName("Debug");
  Debug->setAccessibleName("Отладочные сообщения");
  Debug->setGeometry(4, 118, 322, 154);
  // Every link event adds a line, for as long as the program runs: a flaky cable must not
  // make the log grow without end. The newest lines are kept.
  Debug->setMaximumBlockCount(kKeptLogLines);
  Debug->viewport()->installEventFilter(this);

  WireSpinEdit(Num1, [this] { Num1Send(); });
  WireSpinEdit(Num2, [this] { Num2Send(); });
  connect(Num3, &QTableWidget::cellClicked, this, [this](int, int column) { Num3SelectCell(column); });
  // The place is read when the window is first shown, and only then kept: a run that never
  // opens the console does not overwrite it.
  FormShow = [this] {
    if (Storage()) return;
    SetPersisted({});
    Storage()->Restore(ProgramIni());
  };
}

void TDebug::AppendLine(const QString& text) { Debug->appendPlainText(text); }

void TDebug::Num1Send() { SendCommand(cmd::ServiceRegister, kNum1Target + Num1->Value()); }

void TDebug::Num2Send() { SendCommand(cmd::ServiceRegister, kNum2Target + Num2->Value()); }

void TDebug::Num3SelectCell(int cell) {
  QTableWidgetItem* item = Num3->item(0, cell);
  if (!item) return;
  item->setText(item->text() == "0" ? "1" : "0");
  SendCommand(cmd::ServiceRegister, kNum3Target + Num3Word());
}

int TDebug::Num3Word() const {
  int word = 0;
  for (int i = 0; i < kBits; ++i)
    if (const QTableWidgetItem* item = Num3->item(0, kBits - 1 - i); item && item->text() == "1") word |= 1 << i;
  return word;
}

bool TDebug::eventFilter(QObject* target, QEvent* e) {
  if (target == Debug->viewport() && e->type() == QEvent::MouseButtonDblClick) {
    Debug->clear();
    return true;
  }
  return false;
}
