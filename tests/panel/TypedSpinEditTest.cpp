// Every spin edit of every window that takes typing keeps what the operator typed, also a
// number beyond its range, until Enter brings it to the nearest end: typing 3000 where 300
// is the most must give 300 because 3000 was asked for, not because a digit was refused.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>

#include "app/controls/SpinEdit.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

namespace {

void Type(QWidget* into, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(into, &press);
  }
}

TEST(TypedSpinEdit, EveryTypedFieldKeepsANumberBeyondItsRangeUntilConfirmed) {
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  testsupport::ProgramRun run(config.path(), receiver.SlavePath());
  int typedFields = 0;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    for (TSpinEdit* spin : window->findChildren<TSpinEdit*>()) {
      QLineEdit* field = spin->findChild<QLineEdit*>();
      if (!field || field->isReadOnly()) continue;
      ++typedFields;
      spin->setEnabled(true);  // some take typing only in certain modes
      const std::string name = (window->objectName() + "." + spin->objectName()).toStdString();
      const QString above = QString::number(qint64(spin->maximum()) * 10 + 7);
      field->selectAll();
      Type(field, above);
      EXPECT_EQ(spin->TypedText(), above) << name;
      spin->ConfirmTyped();
      EXPECT_EQ(spin->Value(), spin->maximum()) << name;
      field->selectAll();
      Type(field, "x");  // no number: refused as before
      EXPECT_EQ(spin->TypedText(), QString::number(spin->maximum())) << name;
    }
  }
  EXPECT_GT(typedFields, 0);  // the program has typed fields (Vt and dF among them)
}

}  // namespace
