#include "app/remote/RigctlServer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>

#include "app/dsp/Udebug.h"
#include "app/remote/RigctlCommands.h"
#include "app/remote/RigctlProtocol.h"
#include "platform/win32/IniFile.h"

namespace {

constexpr const char* kSection = "Rigctl";
// What Qt reads ahead of the answers: a client that floods waits in its own send buffer.
constexpr qint64 kReadAhead = 16 * 1024;

// "host:port", "[v6 host]:port" or "localhost:port"; a null host when it is none of these.
void ParseAddress(const QString& text, QHostAddress* host, quint16* port) {
  *host = QHostAddress();
  const QString a = text.trimmed();
  QString hostText, portText;
  if (a.startsWith('[')) {
    const int close = a.indexOf("]:");
    if (close < 0) return;
    hostText = a.mid(1, close - 1);
    portText = a.mid(close + 2);
  } else {
    const int colon = a.lastIndexOf(':');
    if (colon < 0 || a.indexOf(':') != colon) return;
    hostText = a.left(colon);
    portText = a.mid(colon + 1);
  }
  bool ok = false;
  const uint p = portText.toUInt(&ok);
  if (!ok || p > 65535) return;
  const QHostAddress h = hostText == "localhost" ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(hostText);
  if (h.isNull()) return;
  *host = h;
  *port = quint16(p);
}

}  // namespace

RigctlSettings RigctlSettings::Read(const win32::IniFile& ini) {
  RigctlSettings s;
  s.enabled = ini.ReadInteger(kSection, "Enabled").value_or(0) == 1;
  s.address = ini.ReadString(kSection, "Address", s.address);
  ParseAddress(s.address, &s.host, &s.port);
  return s;
}

RigctlServer::RigctlServer(TMain& main, QObject* parent)
    : QObject(parent), receiver_(main), server_(new QTcpServer(this)) {
  connect(server_, &QTcpServer::newConnection, this, &RigctlServer::Accept);
}

RigctlServer::~RigctlServer() {
  for (auto& c : clients_)
    if (c->socket) {
      c->socket->disconnect(this);
      c->socket->abort();
    }
}

bool RigctlServer::Listen(const QHostAddress& host, quint16 port, QString* reason) {
  if (server_->listen(host, port)) return true;
  if (reason) *reason = server_->errorString();
  return false;
}

quint16 RigctlServer::Port() const { return server_->serverPort(); }

std::unique_ptr<RigctlServer> RigctlServer::Start(TMain& main, const win32::IniFile& ini) {
  const RigctlSettings s = RigctlSettings::Read(ini);
  if (!s.enabled) return nullptr;
  if (s.host.isNull()) {
    std::fprintf(stderr, "PVestra: управление по сети не запущено: адрес «%s» в [Rigctl] не понят (нужно адрес:порт)\n",
                 qPrintable(s.address));
    return nullptr;
  }
  auto server = std::make_unique<RigctlServer>(main);
  QString reason;
  if (!server->Listen(s.host, s.port, &reason)) {
    std::fprintf(stderr, "PVestra: управление по сети не запущено: %s: %s\n", qPrintable(s.address),
                 qPrintable(reason));
    return nullptr;
  }
  if (Debug) {
    const QString host = s.host.protocol() == QAbstractSocket::IPv6Protocol ? "[" + s.host.toString() + "]"
                                                                             : s.host.toString();
    Debug->AppendLine(QString("Управление по сети (протокол rigctld): ожидание на %1:%2").arg(host).arg(server->Port()));
  }
  return server;
}

void RigctlServer::Accept() {
  while (QTcpSocket* socket = server_->nextPendingConnection()) {
    if (int(clients_.size()) >= kMaxClients) {
      socket->abort();  // refused at once: the others go on
      socket->deleteLater();
      continue;
    }
    socket->setReadBufferSize(kReadAhead);
    auto client = std::make_unique<Client>();
    client->socket = socket;
    clients_.push_back(std::move(client));
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Serve(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { Drop(socket); });
  }
}

RigctlServer::Client* RigctlServer::Find(QTcpSocket* socket) {
  for (auto& c : clients_)
    if (c->socket == socket) return c.get();
  return nullptr;
}

void RigctlServer::Drop(QTcpSocket* socket) {
  for (auto it = clients_.begin(); it != clients_.end(); ++it)
    if ((*it)->socket == socket) {
      clients_.erase(it);
      break;
    }
  if (socket) {
    socket->disconnect(this);
    socket->deleteLater();
  }
}

void RigctlServer::Serve(QTcpSocket* socket) {
  Client* c = Find(socket);
  if (!c) return;
  c->scheduled = false;
  int lines = 0;
  while (lines < kLinesPerTurn) {
    if (c->pending.size() <= kMaxLine) c->pending += socket->read(kMaxLine + 1 - c->pending.size());
    const qsizetype end = c->pending.indexOf('\n');
    if (end < 0) {
      if (c->pending.size() <= kMaxLine) break;  // the rest of the line has not come yet
      // A line too long: one error, then everything up to its end is dropped.
      if (!c->skipping) {
        socket->write("RPRT -1\n");
        ++lines;
      }
      c->skipping = true;
      c->pending.clear();
      continue;
    }
    const QByteArray line = c->pending.left(end);
    c->pending.remove(0, end + 1);
    if (c->skipping) {
      c->skipping = false;
      continue;
    }
    ++lines;
    Answer(*c, line);
    if (!Find(socket)) return;
  }
  if (socket->bytesToWrite() > kMaxBacklog) {
    socket->abort();  // answers pile up unread
    Drop(socket);
    return;
  }
  // More lines wait: go on after the window has had its turn.
  if (!c->scheduled && (c->pending.contains('\n') || socket->bytesAvailable() > 0)) {
    c->scheduled = true;
    QTimer::singleShot(0, this, [this, p = QPointer<QTcpSocket>(socket)] {
      if (p) Serve(p);
    });
  }
}

void RigctlServer::Answer(Client& client, const QByteArray& line) {
  QTcpSocket* socket = client.socket;
  const std::optional<rigctl::Request> request = rigctl::ParseLine(std::string_view(line.constData(), size_t(line.size())));
  if (!request) return;
  const rigctl::Outcome outcome = rigctl::Execute(receiver_, *request);
  if (!outcome.text.empty()) socket->write(outcome.text.data(), qint64(outcome.text.size()));
  if (outcome.quit) {
    // No more lines of this client; the socket goes once its last answer is out.
    for (auto it = clients_.begin(); it != clients_.end(); ++it)
      if ((*it)->socket == socket) {
        clients_.erase(it);
        break;
      }
    socket->disconnectFromHost();
  }
}
