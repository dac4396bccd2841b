// Streams from a running vestra-sim over USB/IP for a while and reports the block period
// (median, spread, worst) and the simulator's CPU use, read from /proc/<pid>/stat.
//
//   build/bin/vestra-sim-bench [seconds]      (default 10)
#include "platform/usbip/VestraIds.h"
#include "sim/CommandFrame.h"
#include "tests/sim/SimProcess.h"
#include "tests/sim/UsbIpTestClient.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <sstream>
#include <unistd.h>
#include <vector>

using namespace std::chrono;
using namespace usbip;

namespace {

// User plus system time of a process, in seconds.
double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string f;
    unsigned long utime = 0, stime = 0;
    for (int i = 3; fields >> f; ++i) {
        if (i == 14) utime = std::stoul(f);
        if (i == 15) {
            stime = std::stoul(f);
            break;
        }
    }
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[size_t(std::clamp(p * double(v.size() - 1), 0.0, double(v.size() - 1)))];
}

} // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    simtest::SimProcess sim({"--no-serial"});
    if (!sim.started()) {
        std::fprintf(stderr, "vestra-sim did not start\n");
        return 1;
    }
    simtest::UsbIpTestClient c;
    if (!c.connect(sim.port()) || c.import(vestra::kDefaultBusId) != OpOk) {
        std::fprintf(stderr, "import failed\n");
        return 1;
    }
    const uint32_t epReports = vestra::kEpReportsIn & 0x0F, epSamples = vestra::kEpSamplesIn & 0x0F;
    auto command = [&](char letter, int32_t value) {
        auto buf = simtest::commandBuffer(sim::buildFrame(letter, sim::findLetter(letter)->digits, value));
        c.waitFor(c.submit(vestra::kEpCommandsOut, DirOut, 64, buf), milliseconds(2000));
    };
    command('F', 9650000); // inside a broadcast band: many signals in the span
    command('s', 1);

    std::vector<uint32_t> reports, blocks;
    for (int i = 0; i < 4; ++i) reports.push_back(c.submit(epReports, DirIn, 64));
    for (int i = 0; i < 2; ++i) blocks.push_back(c.submit(epSamples, DirIn, 4096));

    std::vector<steady_clock::time_point> arrivals;
    // Let the stream settle, then measure.
    auto warmEnd = steady_clock::now() + milliseconds(500);
    double cpuStart = 0;
    steady_clock::time_point measureStart{};
    auto end = warmEnd + duration_cast<steady_clock::duration>(duration<double>(seconds));
    while (steady_clock::now() < end) {
        auto r = c.next(milliseconds(50));
        if (!r) continue;
        if (measureStart == steady_clock::time_point{} && steady_clock::now() >= warmEnd) {
            measureStart = steady_clock::now();
            cpuStart = cpuSeconds(sim.pid());
        }
        if (std::erase(blocks, r->seqnum)) {
            if (measureStart != steady_clock::time_point{} && r->data.size() == 4096) arrivals.push_back(steady_clock::now());
            blocks.push_back(c.submit(epSamples, DirIn, 4096));
        } else if (std::erase(reports, r->seqnum)) {
            reports.push_back(c.submit(epReports, DirIn, 64));
        }
    }
    double wall = duration<double>(steady_clock::now() - measureStart).count();
    double cpu = cpuSeconds(sim.pid()) - cpuStart;

    if (arrivals.size() < 3) {
        std::fprintf(stderr, "too few blocks: %zu\n", arrivals.size());
        return 1;
    }
    std::vector<double> periods;
    for (size_t i = 1; i < arrivals.size(); ++i)
        periods.push_back(duration<double, std::milli>(arrivals[i] - arrivals[i - 1]).count());
    double mean = std::accumulate(periods.begin(), periods.end(), 0.0) / double(periods.size());
    double var = 0;
    for (double p : periods) var += (p - mean) * (p - mean);
    double sd = std::sqrt(var / double(periods.size()));
    double median = percentile(periods, 0.5);
    double worst = 0;
    for (double p : periods) worst = std::max(worst, std::abs(p - 1000.0 * 1024 / 11070));

    std::printf("blocks: %zu in %.2f s (%.2f per second; expected 10.81)\n", arrivals.size(), wall,
                double(arrivals.size() - 1) / duration<double>(arrivals.back() - arrivals.front()).count());
    std::printf("block period: median %.3f ms (nominal 92.503), mean %.3f ms, jitter (std dev) %.3f ms, "
                "p1 %.3f ms, p99 %.3f ms, worst deviation %.3f ms\n",
                median, mean, sd, percentile(periods, 0.01), percentile(periods, 0.99), worst);
    std::printf("vestra-sim CPU: %.3f s in %.2f s = %.2f %% of one core\n", cpu, wall, 100.0 * cpu / wall);
    return 0;
}
