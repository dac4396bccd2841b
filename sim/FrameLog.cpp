#include "sim/FrameLog.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

namespace sim {

FrameLog::~FrameLog() {
    if (file_) std::fclose(file_);
}

bool FrameLog::open(const std::string& path, std::string& error) {
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) {
        error = "не удалось открыть журнал " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string FrameLog::describe(const char* link, std::span<const uint8_t> bytes, const ParsedFrame& parsed,
                               const std::string& note) {
    // The frame's own bytes; for a frame that failed, up to its ETX (at most 64 bytes).
    size_t shown = parsed.length;
    if (!shown) {
        auto etx = std::find(bytes.begin(), bytes.begin() + ptrdiff_t(std::min<size_t>(bytes.size(), 64)), kEtx);
        shown = size_t(etx - bytes.begin()) + (etx != bytes.end() ? 1 : 0);
        shown = std::min(shown, bytes.size());
    }
    std::string line = std::string(link) + " " + hexBytes(bytes.first(shown));
    switch (parsed.kind) {
    case FrameKind::Command:
        line += std::string(" ") + parsed.letter + " " + std::to_string(parsed.value);
        break;
    case FrameKind::DspPacket:
        line += std::string(" ") + parsed.letter + " слов " + std::to_string(parsed.value);
        break;
    case FrameKind::SpectrumControl:
        line += " s(упр.спектром) " + std::to_string(parsed.value);
        break;
    case FrameKind::Invalid:
        line += " ошибка: " + parsed.error;
        break;
    }
    if (!note.empty()) line += " (" + note + ")";
    return line;
}

void FrameLog::frame(const char* link, std::span<const uint8_t> bytes, const ParsedFrame& parsed,
                     const std::string& note) {
    write(describe(link, bytes, parsed, note));
}

void FrameLog::line(const char* link, const std::string& text) { write(std::string(link) + " " + text); }

void FrameLog::write(const std::string& text) {
    if (!file_) return;
    auto now = std::chrono::system_clock::now();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char stamp[40];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &tm);
    std::fprintf(file_, "%s.%03dZ %s\n", stamp, int(ms), text.c_str());
    std::fflush(file_);
}

} // namespace sim
