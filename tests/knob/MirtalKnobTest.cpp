// The main window's knob: the real Mirtal library, created in place, its members bound by name.
// What it writes is read back by the knob's own dispatch ids, so a name bound to the wrong
// member shows.

#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>
#include <QWidget>

#include "app/panel/MirtalKnob.h"
#include "platform/ole/Control.h"
#include "platform/ole/ControlRegistry.h"
#include "tests/platform/ole/QtApp.h"

namespace {

class MirtalKnobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_qt::EnsureApplication();
    ASSERT_TRUE(dir_.isValid());
    // An empty registry: the knob registers its library from beside the platform library.
    ole::SetRegistryPath(dir_.filePath("controls.ini").toStdString());
  }
  void TearDown() override { ole::SetRegistryPath(""); }

  QTemporaryDir dir_;
};

TEST_F(MirtalKnobTest, SetsStepsAndValueAndHearsGetValue) {
  QWidget window;
  int getValues = 0;
  std::string reason;
  auto knob = TMirtalKnob::Create(&window, [&] { ++getValues; }, &reason);
  ASSERT_TRUE(knob) << reason;
  auto* control = window.findChild<ole::Control*>();
  ASSERT_NE(control, nullptr);
  const auto property = [&](ole::DispId id) {
    ole::Variant v;
    EXPECT_EQ(control->GetProperty(id, v), ole::S_OK);
    return v.toInt32().value_or(-1);
  };

  knob->SetStep(250);
  knob->SetBigStep(5000);
  knob->SetValueMirtal(7000000);
  EXPECT_EQ(property(1), 250);      // Step
  EXPECT_EQ(property(2), 5000);     // BigStep
  EXPECT_EQ(property(9), 7000000);  // ValueMirtal
  EXPECT_EQ(property(4), 2147483647);  // UpRange of the stored form, untouched

  ASSERT_EQ(control->PutProperty(9, std::int32_t(14200000)), ole::S_OK);
  EXPECT_EQ(knob->ValueMirtal(), 14200000);

  QImage image(64, 63, QImage::Format_RGB32);
  control->render(&image);
  EXPECT_EQ(getValues, 1);
  control->render(&image);
  EXPECT_EQ(getValues, 2);
}

}  // namespace
