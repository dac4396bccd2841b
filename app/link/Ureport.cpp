#include "app/link/Ureport.h"

#include <QPainter>

#include "app/dsp/Udecoder.h"
#include "app/link/Ucmd.h"
#include "app/panel/Umain.h"
#include "app/spectrum/Uspectr.h"

bool SerialUploadDone = false;

int HexDigitValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

namespace {

// Decimal digits are taken as they come (byte − '0'); over USB no checksum protects them.
int Digit(const uint8_t* frame, int offset) { return int(frame[offset]) - '0'; }

int Digits(const uint8_t* frame, int offset, int count) {
  int v = 0;
  for (int i = 0; i < count; ++i) v = v * 10 + Digit(frame, offset + i);
  return v;
}

void DrawSerialReadouts(TMain& main) {
  QImage& strip = main.SpectrData->Picture();
  QPainter p(&strip);
  // The strip's own font, as the spectrum writes its readouts; the opaque trailing blanks
  // wipe what a longer earlier text left behind them.
  p.setFont(PictureFont());
  p.setBackgroundMode(Qt::OpaqueMode);
  p.setBackground(Qt::black);
  p.setPen(Qt::white);
  DrawTextAt(p, 370, 4, QString::asprintf("Ls = %3d дБ   ", main.ReportedLevel));
  p.setPen(QColor(0, 255, 255));
  DrawTextAt(p, 448, 4, QString::asprintf("Fs = %5d.%03d Гц    ", main.FreqkHz->Value(), main.FreqHz->Value()));
  main.SpectrData->Changed();
}

}  // namespace

void ParseReport(const uint8_t* frame) {
  switch (frame[1]) {
    case 'C':
      Spectrum.ReportedGain.store(Digits(frame, 2, 3), std::memory_order_release);
      break;
    case 'D':
      if (Decoder && Decoder->Receiving())
        Decoder->ReceiveCharacter(uint8_t(16 * HexDigitValue(frame[2]) + HexDigitValue(frame[3])));
      break;
    case 'F': {
      if (!Main) break;
      Main->FreqkHz->SetValue(Digits(frame, 2, 5));
      Main->FreqHz->SetValue(Digits(frame, 7, 3));
      Main->EndKeypadEntry();
      const int32_t f = Main->FreqkHz->Value() * 1000 + Main->FreqHz->Value();
      Main->SetKnobValue(f);
      Main->LastKnobValue = f;
      break;
    }
    case 'L': {
      if (!Main) break;
      const int magnitude = Digits(frame, 3, 3);
      Main->ReportedLevel = frame[2] == '-' ? -magnitude : magnitude;
      if (Main->LinkKind == cmd::kLinkSerial) DrawSerialReadouts(*Main);
      break;
    }
    case 'S':
      if (Main && !SerialUploadDone && Main->LinkKind == cmd::kLinkSerial) {
        SerialUploadDone = true;
        Main->UploadState();
      }
      break;
    default:
      break;
  }
}
