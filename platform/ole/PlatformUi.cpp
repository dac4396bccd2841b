#include "platform/ole/PlatformUi.h"

#include <dlfcn.h>

#include <QGuiApplication>
#include <QMessageBox>
#include <filesystem>

namespace ole {
namespace {

std::function<void(const std::string&)>& MessageBoxHandler() {
  static std::function<void(const std::string&)> handler;
  return handler;
}

std::function<bool()>& ShiftProvider() {
  static std::function<bool()> provider;
  return provider;
}

}  // namespace

void MessageBox(const std::string& text) {
  if (MessageBoxHandler()) {
    MessageBoxHandler()(text);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QString(), QString::fromStdString(text), QMessageBox::Ok);
  box.exec();
}

bool IsShiftDown() {
  if (ShiftProvider()) return ShiftProvider()();
  return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
}

void SetMessageBoxHandler(std::function<void(const std::string&)> handler) {
  MessageBoxHandler() = std::move(handler);
}

void SetShiftStateProvider(std::function<bool()> provider) { ShiftProvider() = std::move(provider); }

std::string ModulePath(const void* addressInModule) {
  Dl_info info{};
  if (dladdr(addressInModule, &info) == 0 || info.dli_fname == nullptr) return {};
  std::error_code ec;
  auto path = std::filesystem::weakly_canonical(info.dli_fname, ec);
  return ec ? std::string(info.dli_fname) : path.string();
}

std::string PlatformLibraryFolder() {
  static const int anchor = 0;
  return std::filesystem::path(ModulePath(&anchor)).parent_path().string();
}

}  // namespace ole
