// PVestra: the control program of the VESTRA shortwave receiver.
//
// Start-up: the main window, then the tool windows in a fixed order; the message loop runs
// until the main window closes. SIGTERM, SIGINT and SIGHUP close the main window as the
// operator would, so the settings are saved and the serial port gets its settings back.
// An exception that escapes an event handler is shown and the program goes on; one that
// escapes the start-up is shown and ends it.
#include <sys/socket.h>
#include <unistd.h>

#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

#include "app/Application.h"
#include "app/Startup.h"
#include "app/UsbBus.h"
#include "app/panel/Umain.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char b = 1;
  [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &b, 1);
}

void CloseOnSignals() {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
  QObject::connect(notifier, &QSocketNotifier::activated, [] {
    char b;
    [[maybe_unused]] ssize_t n = ::read(signalPipe[0], &b, 1);
    if (Main) Main->close();
  });
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &sa, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  ProgramApplication app(argc, argv);
  app.setApplicationName("PVestra");
  app.setQuitOnLastWindowClosed(false);  // the main window's closing ends the program
  CloseOnSignals();
  try {
    KernelSession kernel;  // outlives the windows: the USB link closes its device first
    ProgramWindows windows;
    Main->show();
    // The desktop session ending quits the loop without a close: save all the same.
    QObject::connect(&app, &QApplication::aboutToQuit, [] {
      if (Main) Main->close();
    });
    return app.exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, "PVestra", QString::fromLocal8Bit(e.what()));
    return 1;
  }
}
