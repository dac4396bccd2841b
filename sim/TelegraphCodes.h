// Character codes that the receiver's telegraph decoder reports in `D` reports: the 5-bit
// МТК-2 code (with its three register shifts) for 7.5-bit start-stop characters, and the
// 7-bit МТК-5 code for the longer character lengths.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// UTF-8 to code points; malformed sequences are skipped.
std::u32string decodeUtf8(const std::string& text);

// МТК-2 registers and their shift codes.
enum class Mtk2Register { Latin = 0, Russian = 1, Figures = 2 };
constexpr uint8_t kMtk2ToRussian = 0;
constexpr uint8_t kMtk2ToFigures = 27;
constexpr uint8_t kMtk2ToLatin = 31;
constexpr uint8_t kMtk2Space = 4;
constexpr uint8_t kMtk2CarriageReturn = 8;
constexpr uint8_t kMtk2LineFeed = 2;

// Encodes text as МТК-2 values (0…31). Letters are taken case-insensitively; a register shift
// is sent before the first character and whenever the register must change; a line break
// becomes CR LF; characters the code cannot carry are left out.
std::vector<uint8_t> encodeMtk2(const std::string& utf8);

// Encodes text as МТК-5 values (0…127). Russian text uses the Cyrillic half (lower case at
// 0x40…0x5F, upper case at 0x60…0x7E, digits and punctuation unchanged); Latin text is sent
// as its ASCII codes. A line break becomes CR LF; other characters are left out.
std::vector<uint8_t> encodeMtk5(const std::string& utf8, bool russian);

} // namespace sim
