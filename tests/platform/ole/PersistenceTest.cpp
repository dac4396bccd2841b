// Stored forms of the control framework: variant conversions, the stream and named forms, and
// a load that fails part-way leaving the control as it was.

#include <gtest/gtest.h>

#include <cstring>

#include "platform/ole/Control.h"
#include "platform/ole/PropExchange.h"
#include "platform/ole/Variant.h"
#include "tests/platform/ole/QtApp.h"

namespace {

using ole::Variant;
using Bytes = std::vector<std::uint8_t>;

// ---- variants

TEST(VariantTest, ConversionsFollowAutomationRules) {
  struct Case {
    Variant in;
    std::optional<std::int32_t> i32;
    std::optional<std::int16_t> i16;
    std::optional<bool> b;
  };
  const Case cases[] = {
      {Variant(std::int32_t(70000)), 70000, std::nullopt, true},
      {Variant(std::int32_t(-32768)), -32768, std::int16_t(-32768), true},
      {Variant(true), -1, std::int16_t(-1), true},
      {Variant(std::int16_t(0)), 0, std::int16_t(0), false},
      {Variant("123"), 123, std::int16_t(123), true},
      {Variant("12x"), std::nullopt, std::nullopt, std::nullopt},
      {Variant("99999999999"), std::nullopt, std::nullopt, true},
      {Variant(), std::nullopt, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.in.toInt32(), c.i32);
    EXPECT_EQ(c.in.toInt16(), c.i16);
    EXPECT_EQ(c.in.toBool(), c.b);
  }
}

TEST(VariantTest, ConvertErrorTellsOverflowFromMismatch) {
  EXPECT_EQ(Variant(std::int32_t(40000)).ConvertError(Variant::Type::Int16), ole::DISP_E_OVERFLOW);
  EXPECT_EQ(Variant("99999999999").ConvertError(Variant::Type::Int32), ole::DISP_E_OVERFLOW);
  EXPECT_EQ(Variant("abc").ConvertError(Variant::Type::Int32), ole::DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Variant().ConvertError(Variant::Type::Bool), ole::DISP_E_TYPEMISMATCH);
}

// ---- stream form: strings and their length prefixes

Bytes WriteString(const std::string& s) {
  ole::StreamWriter w;
  std::string copy = s;
  w.String("s", copy, "");
  return w.bytes();
}

TEST(StreamFormTest, StringLengthPrefixTakesTheFormItsLengthNeeds) {
  struct Case {
    std::size_t length;
    Bytes prefix;
  };
  const Case cases[] = {
      {0, {0x00}},
      {254, {0xFE}},
      {255, {0xFF, 0xFF, 0x00}},
      {300, {0xFF, 0x2C, 0x01}},
      {65533, {0xFF, 0xFD, 0xFF}},
      {65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
      {70000, {0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
  };
  for (const auto& c : cases) {
    const std::string text(c.length, 'a');
    Bytes bytes = WriteString(text);
    ASSERT_EQ(bytes.size(), c.prefix.size() + c.length) << c.length;
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + c.prefix.size()), c.prefix) << c.length;

    ole::StreamReader r(bytes);
    std::string back;
    r.String("s", back, "");
    EXPECT_TRUE(r.Complete()) << c.length;
    EXPECT_EQ(back, text);
  }
}

TEST(StreamFormTest, CorruptStringLengthsAreRejectedWithoutReadingPastTheEnd) {
  const Bytes cases[] = {
      {},                                      // no length at all
      {0x05, 'a', 'b'},                        // short length, too few characters
      {0xFF, 0x10},                            // 16-bit length cut off
      {0xFF, 0xFF, 0xFF, 0x01},                // 32-bit length cut off
      {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'x'},  // 2 GB claimed, one byte present
      {0xFF, 0xFE, 0xFF, 0x00},                // wide-character marker
  };
  for (const auto& bytes : cases) {
    // A copy on the heap of exactly this size, so a read past its end shows under ASan.
    auto heap = std::make_unique<std::uint8_t[]>(bytes.size() + 1);
    if (!bytes.empty()) std::memcpy(heap.get(), bytes.data(), bytes.size());
    ole::StreamReader r(std::span<const std::uint8_t>(heap.get(), bytes.size()));
    std::string value = "kept";
    r.String("s", value, "");
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(value, "kept");
  }
}

TEST(StreamFormTest, IntegersAreLittleEndianAndAFailedItemStopsTheRest) {
  ole::StreamWriter w;
  std::int32_t i = -2147483647;
  std::int16_t s = 20;
  bool b = true;
  w.Int32("i", i, 0);
  w.Bool("b", b, false);
  w.Int16("s", s, 0);
  EXPECT_EQ(w.bytes(), (Bytes{0x01, 0x00, 0x00, 0x80, 0x01, 0x14, 0x00}));

  const Bytes cut{0x01, 0x00, 0x00};
  ole::StreamReader r(cut);
  std::int32_t i2 = 7;
  std::int16_t s2 = 9;
  r.Int32("i", i2, 0);
  r.Int16("s", s2, 0);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(i2, 7);
  EXPECT_EQ(s2, 9);
}

// ---- a control with two properties, to load and save through the base class

class TwoPropertyControl : public ole::Control {
 public:
  TwoPropertyControl() : ole::Control(0x00020003) {}
  ole::HRESULT Invoke(ole::DispId, ole::InvokeKind, const ole::Args&, Variant*) override {
    return ole::DISP_E_MEMBERNOTFOUND;
  }
  std::int32_t level = 5;
  std::string label = "x";

 protected:
  void DoPropExchange(ole::PropExchange& px) override {
    px.Int32("Level", level, 5);
    px.String("Label", label, "x");
  }
  void OnResetState() override {
    level = 5;
    label = "x";
  }
};

class ControlPersistenceTest : public ::testing::Test {
 protected:
  void SetUp() override { testing_qt::EnsureApplication(); }
};

TEST_F(ControlPersistenceTest, StreamStartsWithVersionExtentAndNoStockProperties) {
  QWidget parent;
  TwoPropertyControl c;
  c.ActivateInPlace(&parent, QRect(0, 0, 64, 63));
  c.level = 258;
  c.label = "ab";
  EXPECT_EQ(c.SaveToStream(), (Bytes{0x03, 0x00, 0x02, 0x00, 0x9D, 0x06, 0x00, 0x00, 0x83, 0x06, 0x00, 0x00,
                                     0x00, 0x00, 0x00, 0x00, 0x02, 0x01, 0x00, 0x00, 0x02, 'a', 'b'}));
}

TEST_F(ControlPersistenceTest, FailedLoadKeepsEveryPropertyAndTheExtent) {
  QWidget parent;
  TwoPropertyControl source;
  source.ActivateInPlace(&parent, QRect(0, 0, 100, 50));
  source.level = 77;
  source.label = "stored";
  const Bytes good = source.SaveToStream();

  Bytes oversized = good;
  oversized.push_back(0);
  std::vector<Bytes> bad{oversized};
  for (std::size_t n = 0; n < good.size(); ++n) bad.emplace_back(good.begin(), good.begin() + n);

  for (const auto& bytes : bad) {
    TwoPropertyControl c;
    c.ActivateInPlace(&parent, QRect(0, 0, 64, 63));
    c.level = 1;
    c.label = "before";
    EXPECT_EQ(c.LoadFromStream(bytes), ole::STG_E_READFAULT) << bytes.size();
    EXPECT_EQ(c.level, 1);
    EXPECT_EQ(c.label, "before");
    EXPECT_EQ(c.ExtentX(), 1693);
  }
  TwoPropertyControl c;
  EXPECT_EQ(c.LoadFromStream(good), ole::S_OK);
  EXPECT_EQ(c.level, 77);
  EXPECT_EQ(c.label, "stored");
  EXPECT_EQ(c.SaveToStream(), good);
}

TEST_F(ControlPersistenceTest, BagLoadTakesDefaultsForMissingItemsAndRejectsWrongTypes) {
  TwoPropertyControl c;
  c.level = 1;
  c.label = "before";
  ole::MemoryPropertyBag onlyLabel;
  onlyLabel.Write("Label", "bag");
  EXPECT_EQ(c.LoadFromBag(onlyLabel), ole::S_OK);
  EXPECT_EQ(c.level, 5);
  EXPECT_EQ(c.label, "bag");

  ole::MemoryPropertyBag wrong;
  wrong.Write("Level", "not a number");
  wrong.Write("Label", "other");
  EXPECT_EQ(c.LoadFromBag(wrong), ole::STG_E_READFAULT);
  EXPECT_EQ(c.level, 5);
  EXPECT_EQ(c.label, "bag");

  ole::MemoryPropertyBag saved;
  c.SaveToBag(saved);
  Variant v;
  ASSERT_TRUE(saved.Read("_Version", v));
  EXPECT_EQ(v.toInt32(), 0x00020003);
  ASSERT_TRUE(saved.Read("Label", v));
  EXPECT_EQ(v.toString(), "bag");
}

}  // namespace
