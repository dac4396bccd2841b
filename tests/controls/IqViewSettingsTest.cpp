// The IQ window's view settings (scale, I and Q shown) live from one run of the program to
// the next, through the persisted-properties store that finds its controls by name.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QTemporaryDir>

#include "app/Startup.h"
#include "app/spectrum/Uiq.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

namespace {

TEST(IqViewSettings, ComeBackAtTheNextStart) {
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  {
    testsupport::ProgramRun run(config.path(), receiver.SlavePath());
    IQ->VScale->setCurrentIndex(3);
    IQ->IOn->setChecked(false);
  }
  testsupport::ProgramRun run(config.path(), receiver.SlavePath());
  EXPECT_EQ(IQ->VScale->currentIndex(), 3);
  EXPECT_FALSE(IQ->IOn->isChecked());
  EXPECT_TRUE(IQ->QOn->isChecked());
}

}  // namespace
