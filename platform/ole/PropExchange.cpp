#include "platform/ole/PropExchange.h"

namespace ole {

bool MemoryPropertyBag::Read(const std::string& name, Variant& value) const {
  auto it = items_.find(name);
  if (it == items_.end()) return false;
  value = it->second;
  return true;
}

void MemoryPropertyBag::Write(const std::string& name, const Variant& value) { items_[name] = value; }

// ---- stream form, writing

void StreamWriter::Put(std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void StreamWriter::UInt32(const char*, std::uint32_t& value, std::uint32_t) { Put(value, 4); }
void StreamWriter::Int32(const char*, std::int32_t& value, std::int32_t) {
  Put(static_cast<std::uint32_t>(value), 4);
}
void StreamWriter::Int16(const char*, std::int16_t& value, std::int16_t) {
  Put(static_cast<std::uint16_t>(value), 2);
}
void StreamWriter::Bool(const char*, bool& value, bool) { Put(value ? 1 : 0, 1); }

void StreamWriter::String(const char*, std::string& value, const std::string&) {
  const std::uint64_t n = value.size();
  if (n < 0xFF) {
    Put(n, 1);
  } else if (n < 0xFFFE) {
    Put(0xFF, 1);
    Put(n, 2);
  } else {
    Put(0xFF, 1);
    Put(0xFFFF, 2);
    Put(n, 4);
  }
  bytes_.insert(bytes_.end(), value.begin(), value.end());
}

// ---- stream form, reading

bool StreamReader::Get(std::uint64_t& value, int size) {
  if (!ok() || bytes_.size() - pos_ < static_cast<std::size_t>(size)) {
    Fail();
    return false;
  }
  value = 0;
  for (int i = 0; i < size; ++i) value |= std::uint64_t(bytes_[pos_ + i]) << (8 * i);
  pos_ += size;
  return true;
}

void StreamReader::UInt32(const char*, std::uint32_t& value, std::uint32_t) {
  std::uint64_t v;
  if (Get(v, 4)) value = static_cast<std::uint32_t>(v);
}
void StreamReader::Int32(const char*, std::int32_t& value, std::int32_t) {
  std::uint64_t v;
  if (Get(v, 4)) value = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}
void StreamReader::Int16(const char*, std::int16_t& value, std::int16_t) {
  std::uint64_t v;
  if (Get(v, 2)) value = static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
}
void StreamReader::Bool(const char*, bool& value, bool) {
  std::uint64_t v;
  if (Get(v, 1)) value = v != 0;
}

void StreamReader::String(const char*, std::string& value, const std::string&) {
  std::uint64_t n;
  if (!Get(n, 1)) return;
  if (n == 0xFF) {
    if (!Get(n, 2)) return;
    if (n == 0xFFFE) {  // the marker of a wide-character string, which this form never holds
      Fail();
      return;
    }
    if (n == 0xFFFF && !Get(n, 4)) return;
  }
  // Checked before anything is allocated: a corrupt length must not cost memory.
  if (n > bytes_.size() - pos_) {
    Fail();
    return;
  }
  value.assign(reinterpret_cast<const char*>(bytes_.data() + pos_), static_cast<std::size_t>(n));
  pos_ += static_cast<std::size_t>(n);
}

// ---- named form

template <typename T, typename Convert>
void BagExchange::Load(const char* name, T& value, const T& def, Convert convert) {
  if (!ok()) return;
  Variant v;
  if (!in_->Read(name, v)) {
    value = def;
    return;
  }
  auto converted = convert(v);
  if (!converted) {
    Fail();
    return;
  }
  value = *converted;
}

void BagExchange::UInt32(const char* name, std::uint32_t& value, std::uint32_t def) {
  if (IsLoading()) {
    Load(name, value, def, [](const Variant& v) -> std::optional<std::uint32_t> {
      auto n = v.toInt32();
      if (!n) return std::nullopt;
      return static_cast<std::uint32_t>(*n);
    });
  } else {
    out_->Write(name, static_cast<std::int32_t>(value));
  }
}

void BagExchange::Int32(const char* name, std::int32_t& value, std::int32_t def) {
  if (IsLoading())
    Load(name, value, def, [](const Variant& v) { return v.toInt32(); });
  else
    out_->Write(name, value);
}

void BagExchange::Int16(const char* name, std::int16_t& value, std::int16_t def) {
  if (IsLoading())
    Load(name, value, def, [](const Variant& v) { return v.toInt16(); });
  else
    out_->Write(name, value);
}

void BagExchange::Bool(const char* name, bool& value, bool def) {
  if (IsLoading())
    Load(name, value, def, [](const Variant& v) { return v.toBool(); });
  else
    out_->Write(name, value);
}

void BagExchange::String(const char* name, std::string& value, const std::string& def) {
  if (IsLoading())
    Load(name, value, def, [](const Variant& v) { return v.toString(); });
  else
    out_->Write(name, value);
}

}  // namespace ole
