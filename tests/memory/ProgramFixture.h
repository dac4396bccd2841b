// One life of the whole program per test, its serial link on a test receiver that collects
// the commands the windows send.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

class ProgramFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    run_ = std::make_unique<testsupport::ProgramRun>(config_.path(), receiver_.SlavePath());
    receiver_.Take(30);
  }
  // The command frames sent since the last call, as "F:07000000".
  std::vector<std::string> Sent(int waitMs = 30) { return testsupport::ToStrings(receiver_.Take(waitMs)); }

  QTemporaryDir config_;
  testsupport::PtyReceiver receiver_;
  std::unique_ptr<testsupport::ProgramRun> run_;
};
