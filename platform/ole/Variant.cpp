#include "platform/ole/Variant.h"

#include <charconv>
#include <limits>

namespace ole {
namespace {

std::optional<std::int64_t> WideValue(const Variant& v, bool& overflow) {
  overflow = false;
  switch (v.type()) {
    case Variant::Type::Bool: return *v.toBool() ? -1 : 0;
    case Variant::Type::Int16:
    case Variant::Type::Int32: return *v.toInt32();
    default: return std::nullopt;
  }
}

std::optional<std::int64_t> ParseDecimal(const std::string& s, bool& overflow) {
  overflow = false;
  std::int64_t n = 0;
  const char* first = s.data();
  const char* last = s.data() + s.size();
  auto [p, ec] = std::from_chars(first, last, n);
  if (ec == std::errc::result_out_of_range) {
    overflow = true;
    return std::nullopt;
  }
  if (ec != std::errc() || p != last || first == last) return std::nullopt;
  return n;
}

}  // namespace

std::optional<std::int32_t> Variant::toInt32() const {
  if (auto* b = std::get_if<bool>(&value_)) return *b ? -1 : 0;
  if (auto* s = std::get_if<std::int16_t>(&value_)) return *s;
  if (auto* i = std::get_if<std::int32_t>(&value_)) return *i;
  if (auto* str = std::get_if<std::string>(&value_)) {
    bool overflow = false;
    auto n = ParseDecimal(*str, overflow);
    if (n && *n >= std::numeric_limits<std::int32_t>::min() &&
        *n <= std::numeric_limits<std::int32_t>::max())
      return static_cast<std::int32_t>(*n);
  }
  return std::nullopt;
}

std::optional<std::int16_t> Variant::toInt16() const {
  auto n = toInt32();
  if (!n || *n < std::numeric_limits<std::int16_t>::min() ||
      *n > std::numeric_limits<std::int16_t>::max())
    return std::nullopt;
  return static_cast<std::int16_t>(*n);
}

std::optional<bool> Variant::toBool() const {
  if (auto* b = std::get_if<bool>(&value_)) return *b;
  if (auto* s = std::get_if<std::int16_t>(&value_)) return *s != 0;
  if (auto* i = std::get_if<std::int32_t>(&value_)) return *i != 0;
  if (auto* str = std::get_if<std::string>(&value_)) {
    if (*str == "True" || *str == "true") return true;
    if (*str == "False" || *str == "false") return false;
    bool overflow = false;
    if (auto n = ParseDecimal(*str, overflow)) return *n != 0;
  }
  return std::nullopt;
}

std::optional<std::string> Variant::toString() const {
  if (auto* str = std::get_if<std::string>(&value_)) return *str;
  if (auto* b = std::get_if<bool>(&value_)) return std::string(*b ? "True" : "False");
  if (auto n = toInt32(); n && type() != Type::Empty) return std::to_string(*n);
  return std::nullopt;
}

HRESULT Variant::ConvertError(Type wanted) const {
  bool overflow = false;
  std::optional<std::int64_t> n;
  if (auto* str = std::get_if<std::string>(&value_))
    n = ParseDecimal(*str, overflow);
  else
    n = WideValue(*this, overflow);
  if (overflow) return DISP_E_OVERFLOW;
  if (n && (wanted == Type::Int16 || wanted == Type::Int32)) return DISP_E_OVERFLOW;
  return DISP_E_TYPEMISMATCH;
}

}  // namespace ole
