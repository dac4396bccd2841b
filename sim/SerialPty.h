// The simulator's serial side: a pseudo-terminal whose slave end the PC program opens as its
// serial port, reachable through a stable symbolic link.
//
// Whether the PC has the port open is seen on the master: while no one holds the slave open
// the master reports POLLHUP (and reads fail with EIO).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class SerialPty {
public:
    SerialPty() = default;
    ~SerialPty();
    SerialPty(const SerialPty&) = delete;
    SerialPty& operator=(const SerialPty&) = delete;

    // The default link: $XDG_RUNTIME_DIR/vestra/ttyVESTRA, or /tmp/vestra-<uid>/ttyVESTRA.
    static std::string defaultLinkPath();

    // Creates the pseudo-terminal (raw, 19200 8N1) and points `linkPath` at its slave,
    // replacing an older link. Returns false with a Russian message in `error`.
    bool open(const std::string& linkPath, std::string& error);

    int masterFd() const { return master_; }
    const std::string& slavePath() const { return slave_; }
    const std::string& linkPath() const { return link_; }

    // Looks whether the PC's side is open now (no blocking).
    bool peerOpen() const;

    // Reads what is waiting. Returns false when the peer has closed the port.
    bool readAvailable(std::vector<uint8_t>& bytes);
    // Writes a frame; bytes the terminal cannot take right now are dropped.
    void write(const std::vector<uint8_t>& bytes);

private:
    int master_ = -1;
    std::string slave_;
    std::string link_;
};

} // namespace sim
