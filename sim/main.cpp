// vestra-sim: the receiver's stand-in for development, tests and demonstration.
#include "sim/SimOptions.h"
#include "sim/Simulator.h"

#include <cstdio>

int main(int argc, char** argv) {
    sim::SimOptions options;
    std::string error;
    if (!sim::parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "vestra-sim: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(sim::helpText().c_str(), stdout);
        return 0;
    }
    sim::Simulator simulator(options);
    if (!simulator.start(error)) {
        std::fprintf(stderr, "vestra-sim: %s\n", error.c_str());
        return 1;
    }
    return simulator.run();
}
