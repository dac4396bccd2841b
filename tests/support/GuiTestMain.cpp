// main() for tests that need a Qt application (widgets on the offscreen platform): the
// program's own application object, so events are delivered as in the program.
#include <gtest/gtest.h>

#include "app/Application.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ProgramApplication app(argc, argv);  // the program's own: escaped exceptions are shown
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
