#pragma once
// One QApplication for a test program that creates widgets (offscreen platform).

#include <QApplication>

namespace testing_qt {

inline void EnsureApplication() {
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name, nullptr};
  if (!QApplication::instance()) new QApplication(argc, argv);
}

}  // namespace testing_qt
