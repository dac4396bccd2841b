#include "app/dsp/Uvestramdebug.h"

#include <QFrame>
#include <QGuiApplication>
#include <QScreen>
#include <array>

#include "app/link/Ucmd.h"
#include "app/link/Uusb.h"

TVestraMdebug* VestraMdebug = nullptr;

namespace {

constexpr uint8_t kSpectrumControlLetter = 's';

TRadioGroup* Group(QWidget* parent, const char* name, const QStringList& items, QRect place) {
  auto* g = new TRadioGroup(parent, name, name, items, 1, 0);
  g->setGeometry(place);
  return g;
}

}  // namespace

TVestraMdebug::TVestraMdebug() : TToolWindow("TVestraMdebug", "Отладка Vestra М", {420, 250}, false) {
  VestraMdebug = this;
  SpectrCtrl = Group(this, "SpectrCtrl", {"Off", "11 kHz", "22 kHz"}, {8, 8, 90, 78});

  auto* panel = new QFrame(this);
  DecoderPanel = panel;
  panel->setObjectName("DecoderPanel");
  panel->setFrameShape(QFrame::StyledPanel);
  panel->setGeometry(106, 4, 306, 240);
  DecodingType = Group(panel, "DecodingType", {"Off", "Sync", "Async", "Morze"}, {6, 4, 94, 92});
  CharSize = Group(panel, "CharSize", {"7.5", "9", "10", "11"}, {106, 4, 94, 92});
  Mode7d5 = Group(panel, "Mode7d5", {"Auto", "Man"}, {206, 4, 94, 56});
  CodeType = Group(panel, "CodeType", {"MTK5", "ASCII"}, {6, 100, 94, 56});
  ParityCtrl = Group(panel, "ParityCtrl", {"Off", "Odd", "Even"}, {106, 100, 94, 74});
  TxMode = Group(panel, "TxMode", {"Decoded", "Raw w.ctrl", "Raw"}, {206, 64, 94, 74});
  Alphabet = Group(panel, "Alphabet", {"LAT", "RUS"}, {6, 160, 94, 56});
  SetDecoder = new QPushButton("SetDecoder", panel);
  SetDecoder->setObjectName("SetDecoder");
  SetDecoder->setGeometry(206, 204, 94, 26);

  SpectrCtrl->OnClick = [this] { SpectrCtrlClick(); };

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect r = screen->availableGeometry();
    move(r.center() - QPoint(width() / 2, height() / 2));
  }
}

void TVestraMdebug::SpectrCtrlClick() {
  std::array<uint8_t, cmd::kUsbBufferSize> frame{};
  frame[0] = cmd::STX;
  frame[1] = kSpectrumControlLetter;
  frame[2] = uint8_t('0' + SpectrCtrl->ItemIndex());
  frame[3] = cmd::ETX;
  Usb.WriteCommand(frame.data());
}
