#include "sim/TelegraphCodes.h"
#include "sim/SignalScene.h"

#include <gtest/gtest.h>

using namespace sim;

// МТК-2 as the PC's decoder reads it: value → character per register; shifts 0, 27, 31.
namespace {
const char32_t* const kLatin = U"\0T\0O\0HNM\0LRGIPCVEZDBSYFXAWJ\0UQK\0";
const char32_t* const kRussian = U"\0Т\0О\0ХНМ\0ЛРГИПЦЖЕЗДБСЫФЬАВЙ\0УЯК\0";
const char32_t* const kFigures = U"\0" U"5\0" U"9\0Щ,.\0)4Ш80:=3+#?'6Э/-2Ю\0" U"71(\0";

std::u32string decodeMtk2(const std::vector<uint8_t>& codes) {
    std::u32string out;
    int reg = 0;
    for (uint8_t c : codes) {
        c &= 0x1F;
        if (c == 0) reg = 1;
        else if (c == 27) reg = 2;
        else if (c == 31) reg = 0;
        else if (c == 4) out += U' ';
        else if (c == 2) out += U'\n';
        else if (c == 8) continue;
        else out += (reg == 0 ? kLatin : reg == 1 ? kRussian : kFigures)[c];
    }
    return out;
}
} // namespace

TEST(TelegraphCodes, Mtk2CarriesMixedTextWithShifts) {
    struct Case { const char* text; std::u32string expected; };
    const Case cases[] = {
        {"CQ DE VESTRA", U"CQ DE VESTRA"},
        {"ветер 5 м/с", U"ВЕТЕР 5 М/С"},
        {"RYRY 1234\n", U"RYRY 1234\n"},
        {"ПРИЁМ", U"ПРИЕМ"},
        {"a%b", U"AB"}, // no code for '%'
    };
    for (const auto& c : cases) EXPECT_EQ(decodeMtk2(encodeMtk2(c.text)), c.expected) << c.text;
}

TEST(TelegraphCodes, Mtk2ShiftsOnlyWhenNeeded) {
    // "1Q": figures shift, 1, Latin shift, Q — the sequence 27 29 31 29.
    EXPECT_EQ(encodeMtk2("1Q"), (std::vector<uint8_t>{27, 29, 31, 29}));
    EXPECT_EQ(encodeMtk2("Я"), (std::vector<uint8_t>{0, 29}));
    EXPECT_EQ(encodeMtk2("TT T"), (std::vector<uint8_t>{31, 1, 1, 4, 1}));
    EXPECT_EQ(encodeMtk2("\n"), (std::vector<uint8_t>{8, 2}));
}

TEST(TelegraphCodes, Mtk5RussianAndLatin) {
    EXPECT_EQ(encodeMtk5("я", true), (std::vector<uint8_t>{0x51}));
    EXPECT_EQ(encodeMtk5("Я", true), (std::vector<uint8_t>{0x71}));
    EXPECT_EQ(encodeMtk5("ю Ю ъ", true), (std::vector<uint8_t>{0x40, 0x20, 0x60, 0x20, 0x5F}));
    EXPECT_EQ(encodeMtk5("Ъ", true), (std::vector<uint8_t>{})) << "no upper-case hard sign";
    EXPECT_EQ(encodeMtk5("Q-1\n", false), (std::vector<uint8_t>{0x51, 0x2D, 0x31, 0x0D, 0x0A}));
    EXPECT_EQ(encodeMtk5("Привет, 73", true),
              (std::vector<uint8_t>{0x70, 0x52, 0x49, 0x57, 0x45, 0x54, 0x2C, 0x20, 0x37, 0x33}));
}

TEST(TelegraphCodes, Utf8DecodingSkipsMalformedBytes) {
    EXPECT_EQ(decodeUtf8("a\xD0\x96z"), U"aЖz");
    EXPECT_EQ(decodeUtf8("a\xFFz"), U"az");
    EXPECT_EQ(decodeUtf8("a\xD0"), U"a") << "cut sequence at the end";
}

// Every station of the default scene must read whole under the matching alphabet: a letter
// that a code cannot carry would be left out of what the operator reads.
TEST(TelegraphCodes, EveryStationTextSurvivesBothCodes) {
    const std::u32string mtk5Lower = U"юабцдефгхийклмнопярстужвьызшэщчъ";
    const std::u32string mtk5Upper = U"ЮАБЦДЕФГХИЙКЛМНОПЯРСТУЖВЬЫЗШЭЩЧ";
    auto decodeMtk5 = [&](const std::vector<uint8_t>& codes, bool russian) {
        std::u32string out;
        for (uint8_t c : codes) {
            if (c == 0x0D) continue;
            if (c == 0x0A) out += U'\n';
            else if (c < 0x40 || !russian) out += char32_t(c);
            else out += c < 0x60 ? mtk5Lower[c - 0x40] : mtk5Upper[c - 0x60];
        }
        return out;
    };
    int stations = 0;
    const SignalScene scene = SignalScene::defaultScene();
    for (const Signal& s : scene.signals()) {
        if (!s.keyed()) continue;
        ++stations;
        const std::u32string text = decodeUtf8(s.message);
        EXPECT_EQ(decodeMtk2(encodeMtk2(s.message)), text) << s.frequency;
        EXPECT_EQ(decodeMtk5(encodeMtk5(s.message, s.russian), s.russian), text) << s.frequency;
    }
    EXPECT_GT(stations, 0) << "the scene has telegraph stations";
}
