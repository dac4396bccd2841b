#pragma once
// A property page: a dialog whose fields edit properties of a control by dispatch id. The
// page reads the properties when it opens and writes them back when the user applies it
// (the Apply or OK button).

#include <QDialog>
#include <QString>
#include <utility>
#include <vector>

#include "platform/ole/OleTypes.h"

class QButtonGroup;
class QLineEdit;

namespace ole {

class Control;

struct PageField {
  enum class Kind { IntegerEdit, TextEdit, Radio };
  Kind kind;
  int controlId;  // edit id, or the id of the first radio button
  QString label;
  DispId dispid;
  QString note;  // a line under the field, may be empty
  // Radio buttons: id, text and the value each stands for.
  struct Choice {
    int controlId;
    QString text;
    int value;
  };
  std::vector<Choice> choices;
};

class PropertyPage {
 public:
  PropertyPage(QString caption, std::vector<PageField> fields)
      : caption_(std::move(caption)), fields_(std::move(fields)) {}
  virtual ~PropertyPage() = default;
  const QString& caption() const { return caption_; }
  const std::vector<PageField>& fields() const { return fields_; }

 private:
  QString caption_;
  std::vector<PageField> fields_;
};

// The page's dialog, bound to one control. Fields are found by object name "id<controlId>".
class PropertyPageDialog : public QDialog {
  Q_OBJECT

 public:
  PropertyPageDialog(const PropertyPage& page, Control& target, QWidget* parent = nullptr);
  // Reads every property into its field.
  void ReadProperties();
  // Writes every field back; an integer field that does not parse is left out.
  void Apply();

 private:
  struct Binding {
    const PageField* field;
    QLineEdit* edit = nullptr;
    QButtonGroup* group = nullptr;
  };
  Control& target_;
  std::vector<Binding> bindings_;
};

}  // namespace ole
