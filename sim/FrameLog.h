// The log of every frame the receiver gets: one line per frame, flushed at once, so a test
// or a person watching the file sees each command as it arrives.
//   2026-12-10T05:30:00.123Z serial 02 46 30 31 30 30 30 30 30 30 B9 03 F 1000000
#pragma once

#include "sim/CommandFrame.h"

#include <cstdio>
#include <span>
#include <string>

namespace sim {

class FrameLog {
public:
    FrameLog() = default;
    ~FrameLog();
    FrameLog(const FrameLog&) = delete;
    FrameLog& operator=(const FrameLog&) = delete;

    // Opens (truncates) the file. Returns false with a Russian message.
    bool open(const std::string& path, std::string& error);
    bool isOpen() const { return file_ != nullptr; }

    // One frame as received (`bytes` from STX on) and what it was parsed into; `note` is
    // added at the end (a warning about the value, for example).
    void frame(const char* link, std::span<const uint8_t> bytes, const ParsedFrame& parsed,
               const std::string& note = "");

    // One line of text about the link (a completed program load, for example).
    void line(const char* link, const std::string& text);

    // The line that frame() writes, without the time stamp (exposed for tests).
    static std::string describe(const char* link, std::span<const uint8_t> bytes, const ParsedFrame& parsed,
                                const std::string& note);

private:
    void write(const std::string& text);

    std::FILE* file_ = nullptr;
};

} // namespace sim
