// Line commands on the simulator's standard input, each answered with one line:
//   unplug | plug | signal add FREQ LEVEL KIND | signal del FREQ |
//   fault crc | fault short-block | fault stall-bulk | report TEXT | status | quit
// FREQ in Hz, or with a suffix k / M (7050k, 14.07M); LEVEL in dBµV, -50 … 150; KIND carrier,
// am, cw, fsk.
// report TEXT sends a report frame built from TEXT (its letter and value characters, e.g.
// "L-012"), or with "report hex 02 46 ..." the bytes exactly as given.
#pragma once

#include "sim/SignalScene.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

enum class Fault { Crc, ShortBlock, StallBulk };

// What the console acts on (the simulator).
class ConsoleTarget {
public:
    virtual ~ConsoleTarget() = default;
    virtual void unplug() = 0;
    virtual void plug() = 0;
    virtual void addSignal(const Signal& s) = 0;
    virtual size_t removeSignal(int32_t frequency) = 0;
    virtual void fault(Fault f) = 0;
    virtual void sendRawReport(const std::vector<uint8_t>& frame) = 0;
    virtual std::string status() const = 0;
    virtual void quit() = 0;
};

// Runs one line; returns the answer (Russian). Empty lines give an empty answer.
std::string runConsoleCommand(const std::string& line, ConsoleTarget& target);

// "7050000", "7050k", "7050.5k", "14.07M" → Hz. False when malformed or outside 0…40 MHz.
bool parseFrequency(const std::string& text, int32_t& hz);

} // namespace sim
