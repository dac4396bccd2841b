#include "sim/Simulator.h"

#include "platform/usbip/VestraIds.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr std::chrono::milliseconds kPeerCheckPeriod{50};

} // namespace

Simulator::Simulator(const SimOptions& options)
    : options_(options), model_(*this, SignalScene::defaultScene()) {}

Simulator::~Simulator() {
    if (signalFd_ >= 0) ::close(signalFd_);
}

bool Simulator::start(std::string& error) {
    if (!options_.logFile.empty() && !log_.open(options_.logFile, error)) return false;

    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    ::sigprocmask(SIG_BLOCK, &mask, nullptr);
    signalFd_ = ::signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
    std::signal(SIGPIPE, SIG_IGN);

    if (options_.usb) {
        server_ = std::make_unique<UsbIpServer>(*this, vestra::kDefaultBusId);
        if (!server_->listen(options_.usbHost, options_.usbPort)) {
            error = "не удалось открыть сервер USB/IP на " + options_.usbHost + ":" +
                    std::to_string(options_.usbPort) + ": " + std::strerror(errno);
            return false;
        }
        std::printf("USB/IP: %s:%u, устройство %04x:%04x, шина %s\n", options_.usbHost.c_str(),
                    unsigned(server_->port()), vestra::kVendorId, vestra::kProductId, vestra::kDefaultBusId);
    }
    if (options_.serial) {
        pty_ = std::make_unique<SerialPty>();
        std::string link = options_.serialLink.empty() ? SerialPty::defaultLinkPath() : options_.serialLink;
        if (!pty_->open(link, error)) return false;
        std::printf("Последовательный порт: %s -> %s\n", pty_->linkPath().c_str(), pty_->slavePath().c_str());
    }
    std::fflush(stdout);
    ::fcntl(STDIN_FILENO, F_SETFL, ::fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    return true;
}

int Simulator::run() {
    using Clock = ReceiverModel::Clock;
    std::vector<pollfd> fds;
    while (!quit_) {
        fds.clear();
        if (signalFd_ >= 0) fds.push_back({signalFd_, POLLIN, 0});
        if (stdinOpen_) fds.push_back({STDIN_FILENO, POLLIN, 0});
        if (pty_ && serialOpen_) fds.push_back({pty_->masterFd(), POLLIN, 0});
        if (server_) server_->addPollFds(fds);

        auto now = Clock::now();
        auto deadline = model_.nextDeadline();
        if (pty_) deadline = std::min(deadline, now + kPeerCheckPeriod);
        // Wait to the microsecond (ppoll), so block periods do not pick up millisecond rounding.
        int64_t waitUs = 1000000;
        if (deadline != ReceiverModel::TimePoint::max())
            waitUs = std::clamp<int64_t>(
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count(), 0, 1000000);
        timespec timeout{time_t(waitUs / 1000000), long(waitUs % 1000000) * 1000};
        if (::ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0 && errno != EINTR) {
            notice(std::string("poll: ") + std::strerror(errno));
            return 1;
        }
        for (const auto& p : fds) {
            if (!p.revents) continue;
            if (p.fd == signalFd_) {
                signalfd_siginfo info;
                while (::read(signalFd_, &info, sizeof info) == ssize_t(sizeof info)) quit_ = true;
            } else if (p.fd == STDIN_FILENO) {
                readConsole();
            } else if (pty_ && p.fd == pty_->masterFd()) {
                readSerial();
            }
        }
        if (server_) server_->processPoll(fds);
        pollSerialPeer();
        model_.advance(Clock::now());
    }
    return 0;
}

void Simulator::pollSerialPeer() {
    if (!pty_) return;
    bool open = pty_->peerOpen();
    if (open == serialOpen_) return;
    serialOpen_ = open;
    notice(open ? "последовательный порт открыт" : "последовательный порт закрыт");
    if (open) model_.linkOpened(Link::Serial, ReceiverModel::Clock::now());
    else model_.linkClosed(Link::Serial);
}

void Simulator::readSerial() {
    std::vector<uint8_t> bytes;
    bool alive = pty_->readAvailable(bytes);
    for (uint8_t b : bytes) {
        if (assembler_.feed(b)) receiveFrame(Link::Serial, assembler_.frame());
    }
    if (size_t junk = assembler_.takeDropped())
        notice("последовательный порт: отброшено " + std::to_string(junk) + " байт вне кадров");
    if (!alive) pollSerialPeer();
}

void Simulator::receiveFrame(Link link, std::span<const uint8_t> bytes) {
    ParsedFrame f = parseFrame(bytes, link == Link::Usb);
    std::string warning;
    if (f.kind == FrameKind::Invalid) notice(std::string(linkName(link)) + ": кадр отброшен: " + f.error);
    else warning = model_.command(link, f, ReceiverModel::Clock::now());
    if (!warning.empty()) notice(std::string(linkName(link)) + ": " + f.letter + ": " + warning);
    log_.frame(linkName(link), bytes, f, warning);
    if (f.kind == FrameKind::DspPacket) receiveDspPacket(f, bytes);
}

// Program packets come over USB only (the serial side does not parse them).
void Simulator::receiveDspPacket(const ParsedFrame& f, std::span<const uint8_t> bytes) {
    std::string warning;
    auto loaded = dspLoader_.packet(f.letter, bytes.subspan(3, 4 * size_t(f.value)), warning);
    if (!warning.empty()) notice("usb: " + warning);
    if (!loaded) return;
    const std::string line = describeLoad(*loaded);
    notice(line);
    log_.line("usb", line);
}

void Simulator::readConsole() {
    char buf[1024];
    for (;;) {
        ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n > 0) {
            consoleLine_.append(buf, size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) stdinOpen_ = false; // keep running in the background
        break;
    }
    size_t nl;
    while ((nl = consoleLine_.find('\n')) != std::string::npos) {
        std::string line = consoleLine_.substr(0, nl);
        consoleLine_.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string answer = runConsoleCommand(line, *this);
        if (!answer.empty()) {
            std::printf("%s\n", answer.c_str());
            std::fflush(stdout);
        }
    }
}

void Simulator::notice(const std::string& text) {
    std::fprintf(stderr, "vestra-sim: %s\n", text.c_str());
}

bool Simulator::linkOpen(Link link) const {
    if (link == Link::Serial) return serialOpen_;
    return server_ && server_->imported();
}

void Simulator::sendReport(Link link, const std::vector<uint8_t>& frame) {
    if (link == Link::Serial) {
        if (pty_ && serialOpen_) pty_->write(frame);
    } else if (server_) {
        server_->queueReport(frame);
    }
}

void Simulator::sendBlock(const int16_t* samples) {
    if (server_) server_->queueBlock(samples, IqSynthesizer::kSamples);
}

void Simulator::usbImported() {
    notice("USB/IP: устройство подключено клиентом");
    model_.linkOpened(Link::Usb, ReceiverModel::Clock::now());
}

void Simulator::usbReleased() {
    notice("USB/IP: клиент отключился");
    model_.linkClosed(Link::Usb);
}

void Simulator::usbCommand(const uint8_t* data, size_t length) {
    receiveFrame(Link::Usb, std::span<const uint8_t>(data, length));
}

void Simulator::usbNotice(const std::string& text) { notice(text); }

void Simulator::unplug() {
    if (server_) server_->unplug();
}

void Simulator::plug() {
    if (server_) server_->plug();
}

void Simulator::addSignal(const Signal& s) { model_.scene().add(s); }

size_t Simulator::removeSignal(int32_t frequency) { return model_.scene().remove(frequency); }

void Simulator::fault(Fault f) {
    if (!server_) return;
    switch (f) {
    case Fault::Crc: server_->faultCrc(); break;
    case Fault::ShortBlock: server_->faultShortBlock(); break;
    case Fault::StallBulk: server_->faultStallBulk(); break;
    }
}

void Simulator::sendRawReport(const std::vector<uint8_t>& frame) {
    for (Link l : {Link::Serial, Link::Usb})
        if (linkOpen(l)) sendReport(l, frame);
}

std::string Simulator::status() const {
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "частота %d Гц, вид %d, полоса %d Гц, АРУ %s, усиление %d дБ, аттенюатор %d дБ, УВЧ %d, "
                  "поток %d, приём сообщений %d, уровень %d дБ, USB %s, порт %s, состояние %s, блоков %llu",
                  model_.value('F'), model_.value('E'), model_.value('H'), model_.value('J') <= 4 ? "вкл" : "выкл",
                  model_.ifGain(), model_.value('B'), model_.value('P'), model_.value('s'), model_.value('O'),
                  model_.levelReport(),
                  !server_ ? "нет" : server_->imported() ? "подключено" : server_->plugged() ? "ожидает" : "отключено",
                  serialOpen_ ? "открыт" : "закрыт", model_.uploadComplete() ? "получено" : "не получено",
                  static_cast<unsigned long long>(server_ ? server_->blocksDelivered() : 0));
    return buf;
}

void Simulator::quit() { quit_ = true; }

} // namespace sim
