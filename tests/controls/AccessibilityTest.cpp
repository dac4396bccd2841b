// What a screen reader learns of the program's windows through Qt's accessibility
// interfaces (the ones the desktop's accessibility bus serves): every control has a name,
// hints are descriptions, and latching picture buttons say whether they are down.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QTemporaryDir>
#include <QWidget>
#include <functional>

#include "app/controls/PictureButton.h"
#include "app/panel/Umain.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

namespace {

// Roles of the things a reader lets the operator act on or read: each needs a name.
bool NeedsName(QAccessible::Role role) {
  switch (role) {
    case QAccessible::Button:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::Slider:
    case QAccessible::SpinBox:
    case QAccessible::Dial:
    case QAccessible::EditableText:
    case QAccessible::Graphic:
    case QAccessible::StaticText:
    case QAccessible::List:
    case QAccessible::Table:
    case QAccessible::Tree:
    case QAccessible::PageTab:
      return true;
    default:
      return false;
  }
}

// The program's windows, hidden tool windows included (not the drop-down lists' popups).
QList<QWidget*> ProgramWindowList() {
  QList<QWidget*> windows;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->windowType() != Qt::Popup && w->windowType() != Qt::ToolTip && !w->objectName().isEmpty())
      windows << w;
  return windows;
}

// Walks the accessibility tree as a reader does, from the window down. A drop-down list's
// popup is read as part of its combo box.
void Walk(QAccessibleInterface* node, const std::function<void(QAccessibleInterface*)>& visit) {
  if (!node) return;
  visit(node);
  if (node->role() == QAccessible::ComboBox) return;
  for (int i = 0; i < node->childCount(); ++i) Walk(node->child(i), visit);
}

// What the reader says a control is. On this desktop Qt names a combo box by its current
// item and leaves what it sets to the caption that labels it (the label's buddy); a group
// box around it does not count, as it names the group, not the list.
QString SpokenName(QAccessibleInterface* node) {
  if (node->role() != QAccessible::ComboBox) return node->text(QAccessible::Name).simplified();
  for (const auto& [label, relation] : node->relations(QAccessible::Label))
    if (label->role() == QAccessible::StaticText) return label->text(QAccessible::Name).simplified();
  return {};
}

QAccessibleInterface* Named(const char* window, const char* control) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == window)
      if (QObject* c = w->findChild<QObject*>(control)) return QAccessible::queryAccessibleInterface(c);
  return nullptr;
}

QString Describe(QAccessibleInterface* node) {
  QString path;
  for (QObject* o = node->object(); o; o = o->parent())
    path.prepend("/" + (o->objectName().isEmpty() ? QString(o->metaObject()->className()) : o->objectName()));
  return path + " role " + QString::number(node->role(), 16);
}

class Accessibility : public ::testing::Test {
 protected:
  QTemporaryDir config_;
  testsupport::PtyReceiver receiver_;
};

TEST_F(Accessibility, EveryControlOfEveryWindowHasANameAndItsHintAsDescription) {
  testsupport::ProgramRun run(config_.path(), receiver_.SlavePath());
  QStringList nameless, wrongDescription;
  int windows = 0;
  for (QWidget* window : ProgramWindowList()) {
    ++windows;
    Walk(QAccessible::queryAccessibleInterface(window), [&](QAccessibleInterface* node) {
      if (!NeedsName(node->role())) return;
      if (SpokenName(node).isEmpty()) nameless << Describe(node);
      const auto* w = qobject_cast<QWidget*>(node->object());
      if (w && !w->toolTip().isEmpty() && node->text(QAccessible::Description) != w->toolTip())
        wrongDescription << Describe(node);
    });
  }
  EXPECT_GE(windows, 13);
  EXPECT_TRUE(nameless.isEmpty()) << nameless.join("\n").toStdString();
  EXPECT_TRUE(wrongDescription.isEmpty()) << wrongDescription.join("\n").toStdString();
}

TEST_F(Accessibility, ControlsAreNamedByTheirFaceCaptionOrHint) {
  testsupport::ProgramRun run(config_.path(), receiver_.SlavePath());
  struct Case {
    const char* window;
    const char* control;
    const char* name;
  };
  const Case cases[] = {
      {"TMain", "BtnARU", "АРУ"},               // face
      {"TMain", "BtnChan", "канал"},
      {"TMain", "BtnPol3k", "3 кГц"},
      {"TMain", "BtnCLASS", "другие классы"},
      {"TMain", "Btn7", "7"},
      {"TMain", "BtnPan", "Панорама"},          // no face: the hint
      {"TMain", "BtnRegector", "Режекторный фильтр"},
      {"TMain", "SldTon", "Тон биений"},        // caption beside it
      {"TMain", "AttVch", "Атт ВЧ"},
      {"TMain", "SldRRU", "Усиление ПЧ"},       // no text of its own
      {"TMain", "FreqkHz", "1000 кГц"},         // the digits it shows
      {"TMain", "FreqHz", "000 Гц"},
      {"TFScan", "ScanLeft", "Сканирование вниз"},  // a symbol on the face: the hint
      {"TSettings", "AvrCnt", "Кол. усредн."},  // combo boxes: by their caption
      {"TMParams", "FTlg", "ФТЛГ"},
      {"TIQ", "VScale", "Масштаб"},
      {"TMParams", "PorogARU", "Порог АРУ"},
      {"TRegector", "SldFreqReg", "Частота"},
      {"TPanorama", "PanWin", "Панорама"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.window) + "/" + c.control);
    QAccessibleInterface* node = Named(c.window, c.control);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(SpokenName(node), QString(c.name));
  }
  // The hint, line breaks and all, is the description.
  EXPECT_EQ(Named("TSettings", "SpectrMashtab")->text(QAccessible::Description), "Масштаб шкалы\nпо вертикали");
  EXPECT_EQ(Named("TMain", "BtnFScan")->text(QAccessible::Description), "Сканирование");
  // The tuning knob, the one control whose host is not a window of ours to name.
  QWidget* knob = Main->childAt(245 + 32, 324 + 31);
  ASSERT_NE(knob, nullptr);
  EXPECT_EQ(QAccessible::queryAccessibleInterface(knob)->text(QAccessible::Name), "Ручка настройки частоты");
}

TEST(AccessiblePictureButton, LatchingButtonsReadAsCheckedAndTheReadersActionClicks) {
  QWidget panel;
  TPictureButton aru(&panel, "BtnARU", "АРУ", TPictureButton::Kind::Group, 1);
  TPictureButton rru(&panel, "BtnRRU", "РРУ", TPictureButton::Kind::Group, 1);
  TPictureButton uvc(&panel, "BtnUvc", "УВЧ", TPictureButton::Kind::Toggle);
  TPictureButton digit(&panel, "Btn1", "1", TPictureButton::Kind::Push);
  int rruClicks = 0, digitClicks = 0;
  rru.OnClick = [&] { ++rruClicks; };
  digit.OnClick = [&] { ++digitClicks; };
  aru.SetDown(true);
  auto state = [](QWidget* w) { return QAccessible::queryAccessibleInterface(w)->state(); };
  auto action = [](QWidget* w) { return QAccessible::queryAccessibleInterface(w)->actionInterface(); };

  EXPECT_TRUE(state(&aru).checkable);
  EXPECT_TRUE(state(&aru).checked);
  EXPECT_TRUE(state(&rru).checkable);
  EXPECT_FALSE(state(&rru).checked);
  EXPECT_TRUE(state(&uvc).checkable);
  EXPECT_FALSE(state(&digit).checkable);
  EXPECT_EQ(QAccessible::queryAccessibleInterface(&aru)->role(), QAccessible::Button);

  // The reader's toggle action is the operator's click: the group latches over.
  ASSERT_NE(action(&rru), nullptr);
  EXPECT_EQ(action(&rru)->actionNames().value(0), QAccessibleActionInterface::toggleAction());
  EXPECT_EQ(action(&digit)->actionNames().value(0), QAccessibleActionInterface::pressAction());
  action(&rru)->doAction(QAccessibleActionInterface::toggleAction());
  uvc.SetDown(true);  // in code, as a restore does
  action(&digit)->doAction(QAccessibleActionInterface::pressAction());
  digit.setEnabled(false);  // a disabled button offers nothing and does nothing
  EXPECT_FALSE(action(&digit)->actionNames().contains(QAccessibleActionInterface::pressAction()));
  action(&digit)->doAction(QAccessibleActionInterface::pressAction());

  EXPECT_EQ(rruClicks, 1);
  EXPECT_EQ(digitClicks, 1);
  EXPECT_TRUE(state(&rru).checked);
  EXPECT_FALSE(state(&aru).checked);
  EXPECT_TRUE(state(&uvc).checked);
  EXPECT_FALSE(state(&digit).checked);
}

}  // namespace
