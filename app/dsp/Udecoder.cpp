#include "app/dsp/Udecoder.h"

#include "app/link/Ucmd.h"

TDecoder* Decoder = nullptr;

TDecoder::TDecoder() : TToolWindow("TDecoder", "Прием сообщений", {}) {
  Decoder = this;
  resize(480, 320);
  Menu = new QMenuBar(this);
  QMenu* recv = Menu->addMenu("Прием");
  recvGroup_ = new QActionGroup(this);
  auto item = [&](const char* name, const QString& text, int value) {
    QAction* a = recv->addAction(text);
    a->setObjectName(name);
    a->setCheckable(true);
    recvGroup_->addAction(a);
    connect(a, &QAction::triggered, this, [this, a, value] { RecvClick(a, value); });
    return a;
  };
  Recv7d5 = item("Recv7d5", "7.5 бит", 1);
  Recv9 = item("Recv9", "9 бит", 2);
  Recv10 = item("Recv10", "10 бит", 3);
  Recv11 = item("Recv11", "11 бит", 4);
  RecvOFF = item("RecvOFF", "Откл", 0);
  RecvOFF->setChecked(true);
  FormShow = [this] { SendReceiveMode(); };
}

bool TDecoder::Receiving() const { return isVisible() && !RecvOFF->isChecked(); }

void TDecoder::ReceiveCharacter(uint8_t) {}

void TDecoder::RecvClick(QAction* item, int value) {
  item->setChecked(true);
  SendCommand(cmd::DecoderMode, value);
}

void TDecoder::SendReceiveMode() {
  const std::pair<QAction*, int> order[] = {{Recv7d5, 1}, {Recv9, 2}, {Recv10, 3}, {Recv11, 4}, {RecvOFF, 0}};
  for (auto [item, value] : order)
    if (item->isChecked()) {
      RecvClick(item, value);
      return;
    }
}
