// A fixture for the tests of one window: one life of the program on a test receiver. SetUp
// starts it, shows the window that Window() names (none: nothing is shown) and takes away
// what the start-up sent, so Sent() gives what the test itself made the program send.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

namespace testsupport {

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run_ = std::make_unique<ProgramRun>(config_.path(), receiver_.SlavePath());
    if (QWidget* w = Window()) w->show();
    receiver_.Take(30);
  }
  virtual QWidget* Window() const { return nullptr; }
  std::vector<std::string> Sent() { return ToStrings(receiver_.Take(30)); }

  QTemporaryDir config_;
  PtyReceiver receiver_;
  std::unique_ptr<ProgramRun> run_;
};

}  // namespace testsupport
