// Test entry for widget tests: one QApplication on the offscreen platform
// for the whole run, then GoogleTest.
#include <QApplication>
#include <gtest/gtest.h>

#include "modal_watchdog.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  orventest::ModalWatchdog::Install();  // an unexpected modal box fails its case, never hangs the run
  return RUN_ALL_TESTS();
}
