// Control semantics the windows rely on: latching groups, silent state changes against
// click actions, and the persisted-properties store's restore rules.
#include <gtest/gtest.h>

#include <QLabel>
#include <QSlider>
#include <QTemporaryDir>

#include "app/controls/ComboBox.h"
#include "app/controls/FormStorage.h"
#include "app/controls/PictureButton.h"
#include "app/controls/RadioGroup.h"
#include "app/controls/SevenSegment.h"
#include "app/controls/SpinEdit.h"
#include "platform/win32/IniFile.h"

namespace {

using K = TPictureButton::Kind;

TEST(PictureButton, GroupKeepsExactlyOneDown) {
  QWidget parent;
  TPictureButton a(&parent, "A", "А", K::Group, 1), b(&parent, "B", "Б", K::Group, 1);
  TPictureButton other(&parent, "O", "О", K::Group, 2);
  int clicks = 0;
  b.OnClick = [&] { ++clicks; };
  a.SetDown(true);
  other.SetDown(true);
  b.PerformClick();
  EXPECT_FALSE(a.Down());
  EXPECT_TRUE(b.Down());
  EXPECT_TRUE(other.Down());  // another group is not touched
  EXPECT_EQ(clicks, 1);
  b.PerformClick();  // clicking the one that is down keeps it down and runs the action
  EXPECT_TRUE(b.Down());
  EXPECT_EQ(clicks, 2);
  a.SetDown(true);  // in code: no action
  EXPECT_FALSE(b.Down());
  EXPECT_EQ(clicks, 2);
}

TEST(PictureButton, ToggleLatchesBothWaysAndPushNever) {
  QWidget parent;
  TPictureButton t(&parent, "T", "Т", K::Toggle), p(&parent, "P", "1", K::Push);
  t.PerformClick();
  EXPECT_TRUE(t.Down());
  t.PerformClick();
  EXPECT_FALSE(t.Down());
  p.SetDown(true);
  p.PerformClick();
  EXPECT_FALSE(p.Down());
}

TEST(SevenSegment, ClampsAndPadsAsConfigured) {
  TSevenSegment khz(nullptr, "k", 5, false, 99999), hz(nullptr, "h", 3, true, 999);
  khz.SetValue(1000);
  hz.SetValue(7);
  EXPECT_EQ(khz.Text(), " 1000");
  EXPECT_EQ(hz.Text(), "007");
  hz.SetValue(5000);
  EXPECT_EQ(hz.Value(), 999);
  hz.SetValue(-3);
  EXPECT_EQ(hz.Value(), 0);
}

TEST(FormStorage, RestoreRunsChangeActionsOnlyWhereTheyBelong) {
  QWidget form;
  form.setObjectName("TForm");
  auto* slider = new QSlider(&form);
  slider->setObjectName("Sld");
  slider->setRange(0, 40);
  auto* combo = new TComboBox(&form, "Box", {"a", "b", "c"}, 0);
  auto* radio = new TRadioGroup(&form, "Grp", "G", {"x", "y"}, 1, 0);
  auto* button = new TPictureButton(&form, "Btn", "Б", K::Toggle);
  auto* label = new QLabel("old", &form);
  label->setObjectName("Lbl");
  auto* spin = new TFloatSpinEdit(&form, "Tau", 0.1, 5, 0.1, 0.1, 1);
  int sliderChanges = 0, comboChanges = 0, radioClicks = 0, buttonClicks = 0;
  QObject::connect(slider, &QSlider::valueChanged, [&] { ++sliderChanges; });
  combo->OnChange = [&] { ++comboChanges; };
  radio->OnClick = [&] { ++radioClicks; };
  button->OnClick = [&] { ++buttonClicks; };

  QTemporaryDir dir;
  win32::IniFile ini(dir.path() + "/f.ini");
  for (auto [k, v] : std::initializer_list<std::pair<const char*, const char*>>{
           {"Sld.Position", "55"}, {"Box.ItemIndex", "2"}, {"Grp.ItemIndex", "1"},
           {"Btn.Down", "1"}, {"Lbl.Caption", "новый"}, {"Tau.Value", "2.5"}, {"Lbl.Enabled", "0"}})
    ini.WriteString("TForm", k, v);
  TFormStorage storage(&form, "TForm",
                       {"Sld.Position", "Box.ItemIndex", "Grp.ItemIndex", "Btn.Down", "Lbl.Caption",
                        "Tau.Value", "Lbl.Enabled", "Missing.Value"});
  storage.Restore(ini);
  EXPECT_EQ(slider->value(), 40);  // clamped
  EXPECT_EQ(sliderChanges, 1);
  EXPECT_EQ(combo->ItemIndex(), 2);
  EXPECT_EQ(comboChanges, 0);
  EXPECT_EQ(radioClicks, 1);
  EXPECT_TRUE(button->Down());
  EXPECT_EQ(buttonClicks, 0);
  EXPECT_EQ(label->text(), "новый");
  EXPECT_FALSE(label->isEnabled());
  EXPECT_DOUBLE_EQ(spin->Value(), 2.5);

  // Restoring the same values again changes nothing and runs nothing.
  storage.Restore(ini);
  EXPECT_EQ(sliderChanges, 1);
  EXPECT_EQ(radioClicks, 1);

  // A value that is not a number leaves the control as it is.
  ini.WriteString("TForm", "Sld.Position", "x1");
  storage.Restore(ini);
  EXPECT_EQ(slider->value(), 40);

  storage.Save(ini);
  EXPECT_EQ(ini.ReadString("TForm", "Btn.Down"), "1");
  EXPECT_EQ(ini.ReadString("TForm", "Tau.Value"), "2.5");
  EXPECT_FALSE(ini.KeyExists("TForm", "Missing.Value"));
}

}  // namespace
