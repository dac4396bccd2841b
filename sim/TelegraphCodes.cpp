#include "sim/TelegraphCodes.h"

namespace sim {

namespace {

// Character of each МТК-2 value per register; 0 where the value is a control or shift code.
// Index: value 0…31.
const char32_t kMtk2Latin[32] = {
    0, U'T', 0, U'O', 0, U'H', U'N', U'M', 0, U'L', U'R', U'G', U'I', U'P', U'C', U'V',
    U'E', U'Z', U'D', U'B', U'S', U'Y', U'F', U'X', U'A', U'W', U'J', 0, U'U', U'Q', U'K', 0};
const char32_t kMtk2Russian[32] = {
    0, U'Т', 0, U'О', 0, U'Х', U'Н', U'М', 0, U'Л', U'Р', U'Г', U'И', U'П', U'Ц', U'Ж',
    U'Е', U'З', U'Д', U'Б', U'С', U'Ы', U'Ф', U'Ь', U'А', U'В', U'Й', 0, U'У', U'Я', U'К', 0};
const char32_t kMtk2Figures[32] = {
    0, U'5', 0, U'9', 0, U'Щ', U',', U'.', 0, U')', U'4', U'Ш', U'8', U'0', U':', U'=',
    U'3', U'+', U'#', U'?', U'\'', U'6', U'Э', U'/', U'-', U'2', U'Ю', 0, U'7', U'1', U'(', 0};

// The Cyrillic half of МТК-5, lower case from 0x40 (upper case from 0x60 in the same order).
const char32_t kMtk5Cyrillic[32] = {
    U'ю', U'а', U'б', U'ц', U'д', U'е', U'ф', U'г', U'х', U'и', U'й', U'к', U'л', U'м', U'н', U'о',
    U'п', U'я', U'р', U'с', U'т', U'у', U'ж', U'в', U'ь', U'ы', U'з', U'ш', U'э', U'щ', U'ч', U'ъ'};

char32_t upper(char32_t c) {
    if (c >= U'a' && c <= U'z') return c - 32;
    if (c >= U'а' && c <= U'я') return c - 32;
    if (c == U'ё' || c == U'Ё') return U'Е';
    return c;
}

int findIn(const char32_t (&table)[32], char32_t c) {
    for (int v = 0; v < 32; ++v)
        if (table[v] && table[v] == c) return v;
    return -1;
}

} // namespace

std::u32string decodeUtf8(const std::string& text) {
    std::u32string out;
    for (size_t i = 0; i < text.size();) {
        auto b = uint8_t(text[i]);
        int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
        bool cut = extra > 0 && i + size_t(extra) >= text.size();
        if (extra < 0 || cut) {
            ++i;
            continue;
        }
        char32_t c = extra == 0 ? b : b & (0x3F >> extra);
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            auto cont = uint8_t(text[i + size_t(k)]);
            if ((cont & 0xC0) != 0x80) ok = false;
            c = c << 6 | (cont & 0x3F);
        }
        i += size_t(extra) + 1;
        if (ok) out.push_back(c);
    }
    return out;
}

std::vector<uint8_t> encodeMtk2(const std::string& utf8) {
    std::vector<uint8_t> out;
    int reg = -1; // unknown: the first character sends its shift
    for (char32_t raw : decodeUtf8(utf8)) {
        char32_t c = upper(raw);
        if (c == U' ') {
            out.push_back(kMtk2Space);
            continue;
        }
        if (c == U'\n') {
            out.push_back(kMtk2CarriageReturn);
            out.push_back(kMtk2LineFeed);
            continue;
        }
        const char32_t(*tables[3])[32] = {&kMtk2Latin, &kMtk2Russian, &kMtk2Figures};
        const uint8_t shifts[3] = {kMtk2ToLatin, kMtk2ToRussian, kMtk2ToFigures};
        // Stay in the current register when it has the character (figures are common to both
        // letter registers' texts, so a digit between Russian words costs two shifts).
        int value = reg >= 0 ? findIn(*tables[reg], c) : -1;
        if (value < 0) {
            for (int r = 0; r < 3; ++r) {
                int v = findIn(*tables[r], c);
                if (v >= 0) {
                    out.push_back(shifts[r]);
                    reg = r;
                    value = v;
                    break;
                }
            }
        }
        if (value >= 0) out.push_back(uint8_t(value));
    }
    return out;
}

std::vector<uint8_t> encodeMtk5(const std::string& utf8, bool russian) {
    std::vector<uint8_t> out;
    for (char32_t c : decodeUtf8(utf8)) {
        if (c == U'\n') {
            out.push_back(0x0D);
            out.push_back(0x0A);
        } else if (c >= 0x20 && c <= 0x3F) {
            out.push_back(uint8_t(c));
        } else if (!russian && c >= 0x40 && c <= 0x7E) {
            out.push_back(uint8_t(c));
        } else if (russian) {
            if (c == U'ё') c = U'е';
            if (c == U'Ё') c = U'Е';
            char32_t lower = (c >= U'А' && c <= U'Я') ? c + 32 : c;
            for (int v = 0; v < 32; ++v) {
                if (kMtk5Cyrillic[v] != lower) continue;
                // Upper case sits 0x20 above lower case; there is no upper-case hard sign.
                if (lower != c && v == 31) break;
                out.push_back(uint8_t((lower != c ? 0x60 : 0x40) + v));
                break;
            }
        }
    }
    return out;
}

} // namespace sim
