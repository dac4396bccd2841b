#include "sim/CommandFrame.h"

#include <cstdio>

namespace sim {

namespace {

// Digit counts and ranges as the PC program sends them; meanings for the log.
constexpr LetterInfo kLetters[] = {
    {'F', 8, 1000000, 30000999, "частота, Гц"},
    {'E', 2, 0, 99, "вид работы / класс излучения"},
    {'H', 5, 500, 12000, "полоса ПЧ, Гц"},
    {'L', 5, -9999, 9999, "смещение тона, Гц"},
    {'e', 4, 0, 4000, "сдвиг боковой полосы, Гц"},
    {'X', 3, -20, 20, "порог АРУ, дБ"},
    {'J', 1, 0, 6, "режим регулировки усиления"},
    {'C', 2, 0, 99, "усиление ПЧ (РРУ), дБ"},
    {'D', 2, 0, 40, "усиление НЧ, дБ"},
    {'B', 2, 0, 45, "аттенюатор, дБ"},
    {'P', 1, 0, 1, "УВЧ"},
    {'s', 1, 0, 1, "поток отсчётов"},
    {'R', 1, 0, 2, "полоса НЧ"},
    {'S', 1, 0, 1, "форма АЧХ"},
    {'U', 1, 0, 3, "опорный генератор"},
    {'z', 1, 0, 3, "формирователь ТЛГ"},
    {'i', 1, 0, 1, "шумоподавитель"},
    {'w', 2, 1, 50, "постоянная времени шумоподавителя"},
    {'v', 3, -9, 99, "порог шумоподавителя, дБ"},
    {'I', 1, 0, 6, "контрольный сигнал"},
    {'o', 4, 10, 5000, "ПЧ контрольного сигнала"},
    {'G', 4, 45, 2400, "скорость телеграфирования, Бод"},
    {'T', 4, 85, 1200, "сдвиг частоты, Гц"},
    {'N', 4, 0, 4000, "частота генератора НЧ, Гц"},
    {'K', 5, 0, 4000, "частота режекции, Гц"},
    {'M', 4, 0, 1000, "ширина режекции, Гц"},
    {'O', 1, 0, 4, "режим приёма сообщений"},
    {'g', 6, 100000, 365535, "служебный регистр"},
};

uint8_t checksumOf(std::span<const uint8_t> body) {
    unsigned sum = 0;
    for (uint8_t b : body) sum += b;
    return uint8_t(((256 - (sum & 0xFF)) & 0xFF) | 0x80);
}

} // namespace

std::span<const LetterInfo> commandLetters() { return kLetters; }

const LetterInfo* findLetter(char letter) {
    for (const auto& l : kLetters)
        if (l.letter == letter) return &l;
    return nullptr;
}

std::vector<uint8_t> buildFrame(char letter, int digits, int32_t value) {
    std::string text(size_t(digits), '0');
    int64_t m = value < 0 ? -int64_t(value) : value;
    for (int p = digits - 1; p >= 0; --p) {
        text[size_t(p)] = char('0' + m % 10);
        m /= 10;
    }
    if (value < 0 && digits > 0) text[0] = '-';
    return buildFrameText(letter, text);
}

std::vector<uint8_t> buildFrameText(char letter, const std::string& text) {
    std::vector<uint8_t> f;
    f.reserve(text.size() + 4);
    f.push_back(kStx);
    f.push_back(uint8_t(letter));
    for (char c : text) f.push_back(uint8_t(c));
    f.push_back(checksumOf(std::span<const uint8_t>(f).subspan(1)));
    f.push_back(kEtx);
    return f;
}

bool checksumOk(std::span<const uint8_t> frame) {
    if (frame.size() < 3) return false;
    unsigned sum = 0;
    for (size_t i = 1; i + 1 < frame.size(); ++i) sum += frame[i];
    return (sum & 0x7F) == 0;
}

ParsedFrame parseFrame(std::span<const uint8_t> bytes, bool fromUsb) {
    ParsedFrame r;
    auto fail = [&r](std::string why) {
        r.kind = FrameKind::Invalid;
        r.length = 0;
        r.error = std::move(why);
        return r;
    };
    if (bytes.size() < 3) return fail("кадр короче трёх байтов");
    if (bytes[0] != kStx) return fail("кадр не начинается с STX");
    r.letter = char(bytes[1]);

    if (fromUsb && (r.letter == 'a' || r.letter == 'b' || r.letter == 'c')) {
        unsigned words = bytes[2];
        size_t etxAt = 3 + 4 * size_t(words);
        if (words > 8) return fail("пакет программы: больше 8 слов");
        if (etxAt >= bytes.size() || bytes[etxAt] != kEtx) return fail("пакет программы без ETX");
        r.kind = FrameKind::DspPacket;
        r.value = int32_t(words);
        r.length = etxAt + 1;
        return r;
    }
    if (fromUsb && r.letter == 's' && bytes.size() >= 4 && bytes[3] == kEtx) {
        if (bytes[2] < '0' || bytes[2] > '2') return fail("кадр управления спектром: индекс не 0…2");
        r.kind = FrameKind::SpectrumControl;
        r.value = bytes[2] - '0';
        r.length = 4;
        return r;
    }

    const LetterInfo* info = findLetter(r.letter);
    if (!info) return fail(std::string("неизвестная буква команды '") + char(bytes[1]) + "'");
    size_t length = size_t(info->digits) + 4;
    if (bytes.size() < length) return fail("кадр короче, чем требует буква");
    if (bytes[length - 1] != kEtx) return fail("нет ETX на месте, положенном букве");
    if (!fromUsb && bytes.size() != length) return fail("лишние байты в кадре");
    if (!checksumOk(bytes.first(length))) return fail("неверная контрольная сумма");
    int64_t value = 0;
    bool negative = false;
    for (int p = 0; p < info->digits; ++p) {
        uint8_t c = bytes[2 + size_t(p)];
        if (p == 0 && c == '-') {
            negative = true;
            continue;
        }
        if (c < '0' || c > '9') return fail("в значении не цифра");
        value = value * 10 + (c - '0');
    }
    r.kind = FrameKind::Command;
    r.value = int32_t(negative ? -value : value);
    r.length = length;
    return r;
}

bool FrameAssembler::feed(uint8_t b) {
    if (complete_) {
        frame_.clear();
        complete_ = false;
    }
    if (b == kStx) {
        dropped_ += frame_.size(); // an unfinished frame is abandoned
        frame_.assign(1, b);
        inFrame_ = true;
        return false;
    }
    if (!inFrame_) {
        ++dropped_;
        return false;
    }
    frame_.push_back(b);
    if (b == kEtx) {
        inFrame_ = false;
        complete_ = true;
        return true;
    }
    if (frame_.size() > kMaxFrame) {
        dropped_ += frame_.size();
        frame_.clear();
        inFrame_ = false;
    }
    return false;
}

size_t FrameAssembler::takeDropped() {
    size_t n = dropped_;
    dropped_ = 0;
    return n;
}

std::string hexBytes(std::span<const uint8_t> bytes) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        s += buf;
    }
    return s;
}

} // namespace sim
