// The alphabets of the message window: how one character reported by the receiver's
// telegraph decoder becomes text. Texts are given in code page 1251, the code page of the
// pane's saved files.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

namespace alphabet {

// Registers of МТК-2; only its three shift codes change the register.
enum Mtk2Register : uint8_t { kMtk2Latin = 0, kMtk2Russian = 1, kMtk2Figures = 2 };

// МТК-2: the low five bits count. Shift codes set `reg` and give no text; carriage return
// gives no text; line feed gives "\n"; every other value one character of the register.
QString Mtk2Text(uint8_t byte, uint8_t& reg);

// МТК-5: code page 1251 bytes. Entries 0x20–0x7F hold the Russian set, 0xA0–0xFF the Latin
// set of 0x20–0x7F; 0 means no character.
using Mtk5Table = std::array<uint8_t, 256>;
Mtk5Table MakeMtk5Table();

// One code page 1251 byte as text; 0 gives nothing.
QString Cp1251Char(uint8_t byte);

// The byte as two upper-case hexadecimal digits and a blank.
QString HexText(uint8_t byte);

}  // namespace alphabet
