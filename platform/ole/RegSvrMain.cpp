// vestra-regsvr LIB [-u]: registers (or with -u unregisters) a control library in the control
// registry. Exit status 0 on success, 1 on failure.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/ole/ControlHost.h"
#include "platform/ole/ControlRegistry.h"

int main(int argc, char** argv) {
  std::string library;
  bool unregister = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-u") == 0)
      unregister = true;
    else if (library.empty())
      library = argv[i];
    else
      library.clear(), i = argc;
  }
  if (library.empty()) {
    std::fprintf(stderr, "Использование: vestra-regsvr БИБЛИОТЕКА [-u]\n");
    return 1;
  }
  std::error_code ec;
  auto path = std::filesystem::absolute(library, ec);
  std::string reason;
  ole::HRESULT hr = ole::RegisterLibrary(ec ? library : path.string(), unregister, &reason);
  if (!ole::Succeeded(hr)) {
    std::fprintf(stderr, "%s %s: ошибка 0x%08X%s%s\n", unregister ? "Отмена регистрации" : "Регистрация",
                 library.c_str(), static_cast<unsigned>(hr), reason.empty() ? "" : ", ", reason.c_str());
    return 1;
  }
  std::printf("%s %s: выполнено (%s)\n", unregister ? "Отмена регистрации" : "Регистрация", library.c_str(),
              ole::RegistryPath().c_str());
  return 0;
}
