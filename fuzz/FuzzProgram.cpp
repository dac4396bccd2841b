#include "fuzz/FuzzProgram.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include "app/Application.h"
#include "app/Startup.h"
#include "app/dsp/Udecoder.h"
#include "app/panel/Umain.h"
#include "app/spectrum/Uiq.h"
#include "platform/win32/IniFile.h"

namespace fuzzsupport {

void EnsureProgram() {
  static bool ready = false;
  if (ready) return;
  ready = true;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "pvestra-fuzz";
  static char* argv[] = {name, nullptr};
  static auto* app = new ProgramApplication(argc, argv);
  static auto* config = new QTemporaryDir;
  qputenv("XDG_CONFIG_HOME", config->path().toLocal8Bit());
  ProgramIni().WriteString("Serial", "Port", "/nonexistent/pvestra-fuzz-tty");
  static auto* windows = new ProgramWindows;
  Main->show();
  Decoder->show();
  Decoder->Recv7d5->trigger();
  IQ->show();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  (void)app;
  (void)windows;
}

}  // namespace fuzzsupport
