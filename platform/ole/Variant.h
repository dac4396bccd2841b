#pragma once
// A variant argument of the dispatch interface: empty, boolean, 16- or 32-bit integer, or
// string (UTF-8). Conversions follow the usual automation rules: integers narrow only when the
// value fits, a boolean becomes -1 or 0, a string converts when it is a whole decimal number.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/ole/OleTypes.h"

namespace ole {

class Variant {
 public:
  enum class Type { Empty, Bool, Int16, Int32, String };

  Variant() = default;
  Variant(bool v) : value_(v) {}
  Variant(std::int16_t v) : value_(v) {}
  Variant(std::int32_t v) : value_(v) {}
  Variant(std::string v) : value_(std::move(v)) {}
  Variant(const char* v) : value_(std::string(v)) {}

  Type type() const { return static_cast<Type>(value_.index()); }
  bool isEmpty() const { return type() == Type::Empty; }

  // Conversions; an empty result means the value does not convert (see ConvertError).
  std::optional<std::int32_t> toInt32() const;
  std::optional<std::int16_t> toInt16() const;
  std::optional<bool> toBool() const;
  std::optional<std::string> toString() const;

  // Why a conversion failed: DISP_E_OVERFLOW for a number out of range, otherwise
  // DISP_E_TYPEMISMATCH.
  HRESULT ConvertError(Type wanted) const;

  bool operator==(const Variant&) const = default;

 private:
  std::variant<std::monostate, bool, std::int16_t, std::int32_t, std::string> value_;
};

using Args = std::vector<Variant>;

}  // namespace ole
