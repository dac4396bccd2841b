#include "sim/ReceiverModel.h"

#include <gtest/gtest.h>

#include <map>

using namespace sim;
using namespace std::chrono_literals;

namespace {

struct Sent {
    Link link;
    std::vector<uint8_t> frame;
    char letter() const { return char(frame[1]); }
    std::string value() const { return std::string(frame.begin() + 2, frame.end() - 2); }
};

Signal signalAt(int32_t frequency, double level, SignalKind kind) {
    Signal s;
    s.frequency = frequency;
    s.level = level;
    s.kind = kind;
    return s;
}

class FakeLinks : public ModelOutput {
public:
    bool serial = false;
    bool usb = false;
    std::vector<Sent> reports;
    int blocks = 0;
    bool linkOpen(Link l) const override { return l == Link::Serial ? serial : usb; }
    void sendReport(Link l, const std::vector<uint8_t>& f) override { reports.push_back({l, f}); }
    void sendBlock(const int16_t*) override { ++blocks; }
    int count(char letter, Link l) const {
        return int(std::count_if(reports.begin(), reports.end(),
                                 [&](const Sent& s) { return s.letter() == letter && s.link == l; }));
    }
};

class ReceiverModelTest : public ::testing::Test {
protected:
    FakeLinks links;
    ReceiverModel model{links, SignalScene::defaultScene()};
    ReceiverModel::TimePoint t0 = ReceiverModel::Clock::now();

    void send(Link l, char letter, int32_t value, ReceiverModel::TimePoint at) {
        const LetterInfo* info = findLetter(letter);
        model.command(l, parseFrame(buildFrame(letter, info->digits, value), l == Link::Usb), at);
    }
    // Runs the model from `from` for `span` in steps of 1 ms.
    void run(ReceiverModel::TimePoint from, std::chrono::milliseconds span) {
        for (auto t = from; t <= from + span; t += 1ms) model.advance(t);
    }
};

} // namespace

TEST_F(ReceiverModelTest, FrequencyCommandIsAnsweredOnItsLink) {
    links.serial = links.usb = true;
    send(Link::Usb, 'F', 14070000, t0);
    ASSERT_FALSE(links.reports.empty());
    EXPECT_EQ(links.count('F', Link::Serial), 0);
    EXPECT_EQ(links.reports[0].link, Link::Usb);
    EXPECT_EQ(links.reports[0].frame, buildFrame('F', 8, 14070000));
    EXPECT_EQ(model.value('F'), 14070000);
}

TEST_F(ReceiverModelTest, OutOfRangeValuesAreLimitedAndReported) {
    links.serial = true;
    auto warning = model.command(Link::Serial, parseFrame(buildFrame('F', 8, 45000000), false), t0);
    EXPECT_FALSE(warning.empty());
    EXPECT_EQ(model.value('F'), 30000999);
    EXPECT_EQ(links.reports.front().frame, buildFrame('F', 8, 30000999)) << "the report tells the real frequency";
}

TEST_F(ReceiverModelTest, StateRequestsUntilAFullUploadArrives) {
    links.serial = true;
    model.linkOpened(Link::Serial, t0);
    EXPECT_EQ(links.count('S', Link::Serial), 1) << "at once when the port opens";
    run(t0, 6500ms);
    EXPECT_EQ(links.count('S', Link::Serial), 3) << "then every three seconds";

    // The upload of the PC program, in its order.
    auto t = t0 + 6600ms;
    for (auto [letter, value] : std::initializer_list<std::pair<char, int32_t>>{
             {'F', 7030000}, {'E', 91}, {'H', 500}, {'L', 800}, {'H', 500}, {'R', 1}, {'S', 0}, {'J', 2},
             {'X', 0}, {'B', 0}, {'D', 20}, {'U', 0}, {'I', 0}, {'P', 1}, {'z', 0}, {'i', 0},
             {'w', 10}, {'v', 0}, {'N', 0}, {'O', 0}, {'K', 0}, {'M', 0}})
        send(Link::Serial, letter, value, t);
    EXPECT_TRUE(model.uploadComplete());
    int before = links.count('S', Link::Serial);
    run(t, 7000ms);
    EXPECT_EQ(links.count('S', Link::Serial), before) << "no more requests after the upload";

    // A PC that reopens the port is asked again.
    model.linkOpened(Link::Serial, t + 8000ms);
    EXPECT_EQ(links.count('S', Link::Serial), before + 1);
}

TEST_F(ReceiverModelTest, LevelReportsTenTimesASecondOnOpenLinks) {
    links.serial = true;
    model.linkOpened(Link::Serial, t0);
    run(t0, 1000ms);
    EXPECT_EQ(links.count('L', Link::Serial), 10);
    EXPECT_EQ(links.count('L', Link::Usb), 0);
}

// The meter reads the antenna level, as the PC's spectrum scale does: neither the attenuator,
// the preamplifier nor the gain mode moves it.
TEST_F(ReceiverModelTest, LevelIsTheAntennaLevelAtEveryGainSetting) {
    links.serial = true;
    model.scene().add(signalAt(12300000, 60, SignalKind::Carrier));
    send(Link::Serial, 'F', 12300000, t0);
    send(Link::Serial, 'H', 3000, t0);
    struct Row { int att, preamp, gainMode, ifGain; };
    const Row rows[] = {{0, 1, 2, 50}, {21, 1, 2, 50}, {21, 0, 2, 50}, {45, 0, 2, 50},
                        {0, 1, 5, 0},  {0, 1, 5, 99}, {30, 0, 6, 60}};
    for (const auto& r : rows) {
        send(Link::Serial, 'B', r.att, t0);
        send(Link::Serial, 'P', r.preamp, t0);
        send(Link::Serial, 'J', r.gainMode, t0);
        send(Link::Serial, 'C', r.ifGain, t0);
        EXPECT_EQ(model.levelReport(), 60) << "B " << r.att << " P " << r.preamp << " J " << r.gainMode
                                           << " C " << r.ifGain;
    }
}

// The channel filter: flat over ±bandwidth/2, then 60 dB down over the next 0.75 × bandwidth.
TEST_F(ReceiverModelTest, LevelOfASignalBesideThePassbandFallsOnTheFilterSkirt) {
    SignalScene quiet; // only the noise floor besides the one carrier
    quiet.add(signalAt(10000000, 60, SignalKind::Carrier));
    ReceiverModel m{links, quiet};
    auto levelAt = [&](int32_t tuned, int32_t bandwidth) {
        for (auto [letter, v] : {std::pair{'F', tuned}, std::pair{'H', bandwidth}})
            m.command(Link::Serial, parseFrame(buildFrame(letter, findLetter(letter)->digits, v), false), t0);
        return m.levelReport();
    };
    struct Row { int32_t tuned, bandwidth; int level; };
    const Row rows[] = {
        {10000000, 3000, 60},  {10001500, 3000, 60},  // centre and passband edge
        {10002500, 3000, 33},                           // 1 kHz down a 2.25 kHz skirt: −26.7 dB
        {9997500, 3000, 33},                            // the same below
        {10002500, 12000, 60},                          // inside a wider filter
        {10003750, 3000, 0},                            // 60 dB down: the carrier is gone
    };
    for (const auto& r : rows) {
        int level = levelAt(r.tuned, r.bandwidth);
        if (r.level == 0) {
            // Only the noise in 3 kHz at 10 MHz is left: −28.8 dBµV/Hz + 34.8 dB.
            EXPECT_NEAR(level, 6, 1) << r.tuned;
        } else {
            EXPECT_EQ(level, r.level) << r.tuned << " in " << r.bandwidth;
        }
    }
}

TEST_F(ReceiverModelTest, TuningIsAnsweredWithTheNewLevelAtOnce) {
    links.serial = links.usb = true;
    model.scene().add(signalAt(12300000, 60, SignalKind::Carrier));
    send(Link::Usb, 'H', 3000, t0);
    model.linkOpened(Link::Usb, t0);
    run(t0, 40ms);
    links.reports.clear();
    send(Link::Usb, 'F', 12300000, t0 + 41ms);
    ASSERT_EQ(links.reports.size(), 3u) << "F on its link, L on both";
    EXPECT_EQ(links.reports[0].letter(), 'F');
    for (size_t i : {1u, 2u}) EXPECT_EQ(links.reports[i].frame, buildFrame('L', 4, 60));
    run(t0 + 41ms, 99ms);
    EXPECT_EQ(links.count('L', Link::Usb), 1) << "the regular reports go on 100 ms after it";
    run(t0 + 141ms, 1ms);
    EXPECT_EQ(links.count('L', Link::Usb), 2);
}

TEST_F(ReceiverModelTest, SampleBlocksOnlyWhileStreamingOverUsb) {
    links.usb = true;
    run(t0, 1000ms);
    EXPECT_EQ(links.blocks, 0) << "stream off";
    send(Link::Usb, 's', 1, t0 + 1000ms);
    run(t0 + 1000ms, 1000ms);
    EXPECT_NEAR(links.blocks, 11, 1) << "1024 pairs at 11070 pairs a second";
    EXPECT_EQ(links.count('C', Link::Usb), links.blocks) << "one gain report before each block";
    send(Link::Usb, 's', 0, t0 + 2001ms);
    int blocks = links.blocks;
    run(t0 + 2001ms, 1000ms);
    EXPECT_EQ(links.blocks, blocks);
}

TEST_F(ReceiverModelTest, AgcKeepsTheSamplesBelowFullScale) {
    links.usb = true;
    model.scene().add(signalAt(9500000, 90, SignalKind::Carrier)); // very strong station
    send(Link::Usb, 'F', 9500000, t0);
    std::vector<int16_t> block(IqSynthesizer::kSamples);
    model.synthesizeBlock(block.data());
    int peak = 0;
    for (int16_t v : block) peak = std::max(peak, std::abs(int(v)));
    EXPECT_LT(peak, 32000);
    EXPECT_GT(peak, 1000);
    send(Link::Usb, 'J', 5, t0); // manual gain: the reported gain is the commanded one
    send(Link::Usb, 'C', 37, t0);
    EXPECT_EQ(model.ifGain(), 37);
}

TEST_F(ReceiverModelTest, DecoderReportsCharactersOnATelegraphSignal) {
    links.serial = true;
    Signal tlg = signalAt(8000000, 40, SignalKind::Fsk);
    tlg.baud = 50;
    tlg.message = "RY";
    model.scene().add(tlg);
    send(Link::Serial, 'F', 8000000, t0);
    send(Link::Serial, 'H', 1000, t0);
    run(t0, 1000ms);
    EXPECT_EQ(links.count('D', Link::Serial), 0) << "decoder off";

    send(Link::Serial, 'O', 1, t0 + 1000ms); // 7.5-bit characters: МТК-2 at 50 / 7.5 a second
    run(t0 + 1000ms, 1500ms);
    std::vector<std::string> values;
    for (const auto& r : links.reports)
        if (r.letter() == 'D') values.push_back(r.value());
    EXPECT_NEAR(double(values.size()), 10, 1);
    ASSERT_GE(values.size(), 3u);
    EXPECT_EQ(values[0], "1F") << "Latin shift";
    EXPECT_EQ(values[1], "0A") << "R";
    EXPECT_EQ(values[2], "15") << "Y";

    links.reports.clear();
    send(Link::Serial, 'O', 3, t0 + 2600ms); // 10-bit characters: МТК-5
    run(t0 + 2600ms, 500ms);
    ASSERT_FALSE(links.reports.empty());
    for (const auto& r : links.reports)
        if (r.letter() == 'D') {
            EXPECT_EQ(r.value(), "52");
            break;
        }

    links.reports.clear();
    send(Link::Serial, 'F', 8100000, t0 + 3200ms); // tuned away
    run(t0 + 3200ms, 1000ms);
    EXPECT_EQ(links.count('D', Link::Serial), 0);
}

TEST_F(ReceiverModelTest, RawUsbFramesChangeTheirSettings) {
    std::vector<uint8_t> select = {0x02, 's', '1', 0x03};
    model.command(Link::Usb, parseFrame(select, true), t0);
    EXPECT_EQ(model.spectrumSelector(), 1);
    EXPECT_EQ(model.value('s'), 1);
    std::vector<uint8_t> first(64, 0), last(64, 0);
    first[0] = last[0] = 0x02;
    first[1] = 'a';
    first[2] = 8;
    first[35] = 0x03;
    last[1] = 'c';
    last[2] = 3;
    last[15] = 0x03;
    model.command(Link::Usb, parseFrame(first, true), t0);
    model.command(Link::Usb, parseFrame(last, true), t0);
    EXPECT_EQ(model.dspWordsLoaded(), 11);
    send(Link::Usb, 'g', 200513, t0);
    EXPECT_EQ(model.serviceRegister(2), 513);
}
