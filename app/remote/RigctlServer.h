// The network server for other radio programs: Hamlib's rigctld line protocol on TCP, in the
// program's event loop (no thread of its own). Off unless section [Rigctl] says Enabled=1;
// it listens on Address (default 127.0.0.1:4532, the loopback only).
//
// Each client's lines are answered in order. What a client can do to the program is bounded:
// at most kMaxClients at once (more are closed at once), a line longer than kMaxLine is
// answered "RPRT -1" and skipped, a client whose answers pile up unread beyond kMaxBacklog is
// dropped, and at most kLinesPerTurn lines of one client run before the window gets the
// event loop back.
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <vector>

#include "app/remote/RemoteReceiver.h"

class QTcpServer;
class QTcpSocket;
class TMain;
namespace win32 {
class IniFile;
}

struct RigctlSettings {
  bool enabled = false;
  QString address = "127.0.0.1:4532";  // as written in the file
  QHostAddress host;                   // parsed; null when `address` is not an address
  quint16 port = 0;

  // Section [Rigctl]: Enabled (0 or 1), Address ("host:port", "[v6]:port", "localhost:port").
  static RigctlSettings Read(const win32::IniFile& ini);
};

class RigctlServer : public QObject {
  Q_OBJECT
 public:
  static constexpr int kMaxClients = 8;
  static constexpr int kMaxLine = 4096;
  static constexpr qint64 kMaxBacklog = 64 * 1024;
  static constexpr int kLinesPerTurn = 16;

  explicit RigctlServer(TMain& main, QObject* parent = nullptr);
  ~RigctlServer() override;

  // Starts listening; false with a reason (the address in use, not an address of this machine).
  bool Listen(const QHostAddress& host, quint16 port, QString* reason);
  quint16 Port() const;
  int ClientCount() const { return int(clients_.size()); }

  // Reads the settings and, when enabled, listens: one line in the debug console when it
  // does, one line on standard error when it cannot. Nothing when disabled.
  static std::unique_ptr<RigctlServer> Start(TMain& main, const win32::IniFile& ini);

 private:
  struct Client {
    QPointer<QTcpSocket> socket;
    QByteArray pending;      // read, not yet answered
    bool skipping = false;   // inside a line that was too long: dropped up to its end
    bool scheduled = false;  // a later turn of the event loop goes on with its lines
  };

  void Accept();
  void Serve(QTcpSocket* socket);
  void Answer(Client& client, const QByteArray& line);
  void Drop(QTcpSocket* socket);
  Client* Find(QTcpSocket* socket);

  rigctl::RemoteReceiver receiver_;
  QTcpServer* server_;
  std::vector<std::unique_ptr<Client>> clients_;
};
