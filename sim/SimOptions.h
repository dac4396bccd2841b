// Command-line options of vestra-sim.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

struct SimOptions {
    bool usb = true;
    std::string usbHost = "127.0.0.1";
    uint16_t usbPort = 3240;     // 0 picks a free port (printed at start)
    bool serial = true;
    std::string serialLink;      // empty: SerialPty::defaultLinkPath()
    std::string logFile;         // empty: no log
    bool help = false;
};

// Parses the arguments after the program name. Returns false with a Russian message.
bool parseOptions(int argc, const char* const* argv, SimOptions& options, std::string& error);

std::string helpText();

} // namespace sim
