// The persisted-properties store of one window: its list of "Control.Property" names and
// its placement, kept in one section (named after the window class) of the program's
// initialization file.
//
// Restoring a value acts like setting it in code: sliders, spin boxes and radio groups run
// their change or click action when the value changes; buttons, drop-down lists, labels
// and enabled states change silently. Menu items and other objects that are not controls
// are kept through their Qt properties ("Recv9.Checked", "SaveDialog.FileName"). A key that
// is missing or not a number leaves the control as it is.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <vector>

namespace win32 {
class IniFile;
}

class TFormStorage {
 public:
  TFormStorage(QWidget* form, QString section, QStringList properties);
  ~TFormStorage();
  TFormStorage(const TFormStorage&) = delete;
  TFormStorage& operator=(const TFormStorage&) = delete;

  // Every store that exists, in creation order (the program saves them all at shut-down).
  static const std::vector<TFormStorage*>& All();

  const QString& Section() const { return section_; }
  const QStringList& Properties() const { return properties_; }

  void Save(win32::IniFile& ini) const;
  void Restore(const win32::IniFile& ini) const;
  void SavePlacement(win32::IniFile& ini) const;
  void RestorePlacement(const win32::IniFile& ini) const;

  // The property's value as it is stored ("1"/"0" for booleans); empty when unknown.
  QString Read(const QString& property) const;
  // Applies a stored value; false when the control or property is unknown or the text
  // is not a value of its kind.
  bool Write(const QString& property, const QString& value) const;

 private:
  QWidget* Control(const QString& name) const;
  // A named child that is not a widget (a menu item, a dialog's settings), or none.
  QObject* Object(const QString& name) const;

  QWidget* form_;
  QString section_;
  QStringList properties_;
};

// The program's initialization file: $XDG_CONFIG_HOME/PVestra/PVestra.ini, or
// ~/.config/PVestra/PVestra.ini when the variable is unset or empty.
QString InitializationFilePath();
