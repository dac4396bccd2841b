#include "sim/SimOptions.h"

#include "platform/usbip/SocketIo.h"

namespace sim {

bool parseOptions(int argc, const char* const* argv, SimOptions& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool inlineValue = false;
        if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            inlineValue = true;
        }
        auto takeValue = [&]() {
            if (inlineValue) return true;
            if (i + 1 >= argc) {
                error = "параметру " + arg + " нужно значение";
                return false;
            }
            value = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--usb") {
            if (!takeValue()) return false;
            if (value.size() > 2 && value.ends_with(":0")) { // any free port
                o.usbHost = value.substr(0, value.size() - 2);
                o.usbPort = 0;
            } else if (!usbip::parseHostPort(value, o.usbHost, o.usbPort)) {
                error = "неверный адрес «" + value + "», нужно ХОСТ:ПОРТ";
                return false;
            }
            o.usb = true;
        } else if (arg == "--no-usb") {
            o.usb = false;
        } else if (arg == "--serial") {
            if (!takeValue()) return false;
            o.serialLink = value;
            o.serial = true;
        } else if (arg == "--no-serial") {
            o.serial = false;
        } else if (arg == "--log") {
            if (!takeValue()) return false;
            o.logFile = value;
        } else {
            error = "неизвестный параметр «" + arg + "» (см. --help)";
            return false;
        }
    }
    return true;
}

std::string helpText() {
    return "vestra-sim — имитатор приёмника VESTRA (последовательный порт и USB через USB/IP)\n"
           "\n"
           "Параметры:\n"
           "  --usb ХОСТ:ПОРТ   адрес сервера USB/IP (по умолчанию 127.0.0.1:3240; порт 0 — любой свободный)\n"
           "  --no-usb          не запускать сервер USB/IP\n"
           "  --serial ПУТЬ     где создать ссылку на псевдотерминал (по умолчанию\n"
           "                    $XDG_RUNTIME_DIR/vestra/ttyVESTRA или /tmp/vestra-UID/ttyVESTRA)\n"
           "  --no-serial       не создавать псевдотерминал\n"
           "  --log ФАЙЛ        записывать каждый принятый кадр: время, линия, байты, буква и значение\n"
           "  --help            эта справка\n"
           "\n"
           "Команды на стандартном входе (ответ — одна строка на стандартном выходе):\n"
           "  unplug                         отключить USB (разорвать соединение, не экспортировать)\n"
           "  plug                           снова экспортировать устройство\n"
           "  signal add ЧАСТОТА УРОВЕНЬ ВИД добавить сигнал: частота в Гц (или 7050k, 14.07M),\n"
           "                                 уровень в дБмкВ (-50…150), вид carrier | am | cw | fsk\n"
           "  signal del ЧАСТОТА             удалить сигналы на частоте (±50 Гц)\n"
           "  fault crc                      следующая передача IN — с ошибкой CRC\n"
           "  fault short-block              следующий блок отсчётов — 2048 байт вместо 4096\n"
           "  fault stall-bulk               следующий блок отсчётов не отправлять\n"
           "  report ТЕКСТ                   отправить отчёт: буква и значение (L-012, F30000000),\n"
           "                                 или report hex 02 46 ... — байты как есть\n"
           "  status                         текущее состояние приёмника и число отданных блоков\n"
           "  quit                           завершить работу (также SIGTERM, SIGINT)\n"
           "\n"
           "Конец стандартного входа работу не завершает.\n";
}

} // namespace sim
