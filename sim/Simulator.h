// vestra-sim as a whole: the receiver model wired to its two links (pseudo-terminal and
// USB/IP server), the frame log and the line console, driven by one poll loop.
#pragma once

#include "sim/CommandFrame.h"
#include "sim/ControlConsole.h"
#include "sim/DspProgramLoader.h"
#include "sim/FrameLog.h"
#include "sim/ReceiverModel.h"
#include "sim/SerialPty.h"
#include "sim/SimOptions.h"
#include "sim/UsbIpServer.h"

#include <memory>
#include <string>

namespace sim {

class Simulator : public ModelOutput, public UsbIpServer::Events, public ConsoleTarget {
public:
    explicit Simulator(const SimOptions& options);
    ~Simulator() override;

    // Opens the links and the log; false with a Russian message when one cannot be opened.
    bool start(std::string& error);
    // Runs until `quit` or SIGTERM/SIGINT. Returns the exit status.
    int run();

private:
    // ModelOutput
    bool linkOpen(Link link) const override;
    void sendReport(Link link, const std::vector<uint8_t>& frame) override;
    void sendBlock(const int16_t* samples) override;
    // UsbIpServer::Events
    void usbImported() override;
    void usbReleased() override;
    void usbCommand(const uint8_t* data, size_t length) override;
    void usbNotice(const std::string& text) override;
    // ConsoleTarget
    void unplug() override;
    void plug() override;
    void addSignal(const Signal& s) override;
    size_t removeSignal(int32_t frequency) override;
    void fault(Fault f) override;
    void sendRawReport(const std::vector<uint8_t>& frame) override;
    std::string status() const override;
    void quit() override;

    void receiveFrame(Link link, std::span<const uint8_t> bytes);
    void receiveDspPacket(const ParsedFrame& f, std::span<const uint8_t> bytes);
    void pollSerialPeer();
    void readSerial();
    void readConsole();
    void notice(const std::string& text);

    SimOptions options_;
    ReceiverModel model_;
    std::unique_ptr<UsbIpServer> server_;
    std::unique_ptr<SerialPty> pty_;
    FrameAssembler assembler_;
    FrameLog log_;
    DspProgramLoader dspLoader_;
    bool serialOpen_ = false;
    bool stdinOpen_ = true;
    std::string consoleLine_;
    bool quit_ = false;
    int signalFd_ = -1;
};

} // namespace sim
