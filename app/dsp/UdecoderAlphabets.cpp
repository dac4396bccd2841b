#include "app/dsp/UdecoderAlphabets.h"

#include "platform/win32/Cp1251.h"

namespace alphabet {
namespace {

constexpr uint8_t kToRussian = 0, kLineFeed = 2, kBlank = 4, kCarriageReturn = 8, kToFigures = 27,
                  kToLatin = 31;

// Characters of the values 0–31 per register; the blank marks shift and format codes, which
// are handled before the table is read.
constexpr char16_t kMtk2[3][33] = {
    u" T O HNM LRGIPCVEZDBSYFXAWJ UQK ",
    u" Т О ХНМ ЛРГИПЦЖЕЗДБСЫФЬАВЙ УЯК ",
    u" 5 9 Щ,. )4Ш80:=3+#?'6Э/-2Ю 71( ",
};

// The Cyrillic letters of МТК-5 from 0x40 (lower case) and from 0x60 (upper case).
constexpr char16_t kMtk5Lower[] = u"юабцдефгхийклмнопярстужвьызшэщчъ";
constexpr char16_t kMtk5Upper[] = u"ЮАБЦДЕФГХИЙКЛМНОПЯРСТУЖВЬЫЗШЭЩЧ";

}  // namespace

QString Mtk2Text(uint8_t byte, uint8_t& reg) {
  const uint8_t value = byte & 0x1F;
  switch (value) {
    case kToRussian: reg = kMtk2Russian; return {};
    case kToFigures: reg = kMtk2Figures; return {};
    case kToLatin: reg = kMtk2Latin; return {};
    case kCarriageReturn: return {};
    case kLineFeed: return QStringLiteral("\n");
    case kBlank: return QStringLiteral(" ");
    default: return QString(QChar(kMtk2[reg <= kMtk2Figures ? reg : uint8_t(kMtk2Latin)][value]));
  }
}

Mtk5Table MakeMtk5Table() {
  Mtk5Table t{};
  for (int c = 0x20; c <= 0x3F; ++c) t[size_t(c)] = uint8_t(c);
  const QByteArray lower = win32::EncodeCp1251(QString::fromUtf16(kMtk5Lower));
  const QByteArray upper = win32::EncodeCp1251(QString::fromUtf16(kMtk5Upper));
  for (int i = 0; i < lower.size(); ++i) t[size_t(0x40 + i)] = uint8_t(lower[i]);
  for (int i = 0; i < upper.size(); ++i) t[size_t(0x60 + i)] = uint8_t(upper[i]);
  t[0x7F] = ' ';
  for (int c = 0xA0; c <= 0xFF; ++c) t[size_t(c)] = uint8_t(c - 0x80);
  t[0xDF] = '-';  // for "_"
  t[0xFE] = '-';  // for "~"
  t[0xFF] = ' ';
  return t;
}

QString Cp1251Char(uint8_t byte) {
  if (byte == 0) return {};
  return win32::DecodeCp1251(QByteArray(1, char(byte)));
}

QString HexText(uint8_t byte) {
  return QStringLiteral("%1 ").arg(int(byte), 2, 16, QChar('0')).toUpper();
}

}  // namespace alphabet
