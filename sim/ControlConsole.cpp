#include "sim/ControlConsole.h"

#include "sim/CommandFrame.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace sim {

namespace {

const char* const kUsage =
    "команды: unplug, plug, signal add ЧАСТОТА УРОВЕНЬ ВИД, signal del ЧАСТОТА, "
    "fault crc|short-block|stall-bulk, report ТЕКСТ, status, quit";

// Antenna levels a signal may have: beyond them the synthesised samples would overflow to
// infinity and stop being numbers.
constexpr double kMinLevel = -50, kMaxLevel = 150;

bool parseNumber(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end && *end == '\0' && std::isfinite(value);
}

bool parseHexBytes(std::istringstream& in, std::vector<uint8_t>& bytes) {
    std::string word;
    while (in >> word) {
        char* end = nullptr;
        long v = std::strtol(word.c_str(), &end, 16);
        if (word.size() > 2 || !end || *end || v < 0 || v > 255) return false;
        bytes.push_back(uint8_t(v));
    }
    return !bytes.empty();
}

} // namespace

bool parseFrequency(const std::string& text, int32_t& hz) {
    if (text.empty()) return false;
    double scale = 1;
    std::string number = text;
    char last = text.back();
    if (last == 'k' || last == 'K') scale = 1e3;
    if (last == 'M') scale = 1e6;
    if (scale != 1) number.pop_back();
    double v;
    if (!parseNumber(number, v)) return false;
    v *= scale;
    if (v < 0 || v > 40e6) return false;
    hz = int32_t(std::lround(v));
    return true;
}

std::string runConsoleCommand(const std::string& line, ConsoleTarget& target) {
    std::istringstream in(line);
    std::string cmd;
    if (!(in >> cmd)) return "";
    if (cmd == "unplug") {
        target.unplug();
        return "USB: устройство отключено";
    }
    if (cmd == "plug") {
        target.plug();
        return "USB: устройство подключено";
    }
    if (cmd == "quit") {
        target.quit();
        return "завершение работы";
    }
    if (cmd == "status") return target.status();
    if (cmd == "signal") {
        std::string sub, freqText;
        in >> sub >> freqText;
        int32_t hz = 0;
        if (sub == "add") {
            std::string levelText, kindText, extra;
            in >> levelText >> kindText;
            Signal s;
            double level;
            if (!parseFrequency(freqText, hz)) return "ошибка: неверная частота «" + freqText + "»";
            if (!parseNumber(levelText, level) || level < kMinLevel || level > kMaxLevel)
                return "ошибка: неверный уровень «" + levelText + "» (от -50 до 150 дБмкВ)";
            if (!parseSignalKind(kindText, s.kind)) return "ошибка: неизвестный вид сигнала «" + kindText +
                                                           "» (carrier, am, cw, fsk)";
            if (in >> extra) return "ошибка: лишние слова в команде";
            s.frequency = hz;
            s.level = level;
            target.addSignal(s);
            return "сигнал добавлен: " + std::to_string(hz) + " Гц, " + levelText + " дБ, " + kindText;
        }
        if (sub == "del") {
            if (!parseFrequency(freqText, hz)) return "ошибка: неверная частота «" + freqText + "»";
            size_t n = target.removeSignal(hz);
            return n ? "удалено сигналов: " + std::to_string(n) : "ошибка: на частоте " + std::to_string(hz) + " Гц сигнала нет";
        }
        return std::string("ошибка: signal add ЧАСТОТА УРОВЕНЬ ВИД или signal del ЧАСТОТА");
    }
    if (cmd == "fault") {
        std::string kind;
        in >> kind;
        if (kind == "crc") {
            target.fault(Fault::Crc);
            return "сбой: следующая передача IN завершится ошибкой CRC";
        }
        if (kind == "short-block") {
            target.fault(Fault::ShortBlock);
            return "сбой: следующий блок будет укорочен до 2048 байт";
        }
        if (kind == "stall-bulk") {
            target.fault(Fault::StallBulk);
            return "сбой: следующий блок не будет отправлен";
        }
        return "ошибка: неизвестный сбой «" + kind + "» (crc, short-block, stall-bulk)";
    }
    if (cmd == "report") {
        std::string text;
        in >> text;
        std::vector<uint8_t> frame;
        if (text == "hex") {
            if (!parseHexBytes(in, frame)) return "ошибка: report hex ожидает байты в шестнадцатеричном виде";
        } else {
            std::string extra;
            if (text.empty() || (in >> extra)) return "ошибка: report ТЕКСТ — буква и значение без пробелов";
            frame = buildFrameText(text[0], text.substr(1));
        }
        target.sendRawReport(frame);
        return "отчёт отправлен: " + hexBytes(frame);
    }
    return "неизвестная команда «" + cmd + "»; " + kUsage;
}

} // namespace sim
