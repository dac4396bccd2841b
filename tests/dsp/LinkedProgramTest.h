// One program life with both links under test control: a receiver on a pseudo-terminal as
// the serial port and a scripted USB device, plugged or not. Start() returns with the
// start-up traffic of both links taken away.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>

#include "app/panel/Umain.h"
#include "tests/support/FakeUsbDevice.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

class LinkedProgramTest : public ::testing::Test {
 protected:
  void Start(bool plugged) {
    if (plugged) usb_.Plug();
    run_ = std::make_unique<testsupport::ProgramRun>(config_.path(), receiver_.SlavePath());
    if (plugged) {
      ASSERT_TRUE(testsupport::PumpUntil([] { return Main->LinkKind == 2; }));
    }
    testsupport::Pump(50);
    receiver_.Take(30);
    usb_.Writes();
    usb_.Commands();
  }

  QTemporaryDir config_;
  testsupport::PtyReceiver receiver_;
  testsupport::FakeUsbDevice usb_;
  std::unique_ptr<testsupport::ProgramRun> run_;
};
