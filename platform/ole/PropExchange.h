#pragma once
// Property exchange: one routine of the control lists its persistent properties in order, and
// the same routine loads or saves them in either stored form.
//
// Stream form: the items follow one another without names or padding, little-endian
// integers, a boolean as one byte, a string as a length prefix and its bytes (a length byte
// for 0-254; 0xFF and a 16-bit length for 255-65533; 0xFF, 0xFFFF and a 32-bit length beyond).
// A load that would read past the end, or that leaves bytes unread, fails as a whole.
//
// Named form (a property bag): each item under its name; a missing item takes its default.

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "platform/ole/Variant.h"

namespace ole {

// A property bag as the container supplies it.
class PropertyBag {
 public:
  virtual ~PropertyBag() = default;
  // False when the bag holds no item of that name.
  virtual bool Read(const std::string& name, Variant& value) const = 0;
  virtual void Write(const std::string& name, const Variant& value) = 0;
};

// A property bag kept in memory, in name order.
class MemoryPropertyBag : public PropertyBag {
 public:
  bool Read(const std::string& name, Variant& value) const override;
  void Write(const std::string& name, const Variant& value) override;
  void Remove(const std::string& name) { items_.erase(name); }
  const std::map<std::string, Variant>& items() const { return items_; }

 private:
  std::map<std::string, Variant> items_;
};

class PropExchange {
 public:
  virtual ~PropExchange() = default;
  bool IsLoading() const { return loading_; }
  // False once any item failed to load; later items are then left alone.
  bool ok() const { return ok_; }

  virtual void UInt32(const char* name, std::uint32_t& value, std::uint32_t def) = 0;
  virtual void Int32(const char* name, std::int32_t& value, std::int32_t def) = 0;
  virtual void Int16(const char* name, std::int16_t& value, std::int16_t def) = 0;
  virtual void Bool(const char* name, bool& value, bool def) = 0;
  virtual void String(const char* name, std::string& value, const std::string& def) = 0;

 protected:
  explicit PropExchange(bool loading) : loading_(loading) {}
  void Fail() { ok_ = false; }

 private:
  bool loading_;
  bool ok_ = true;
};

// Writes the stream form.
class StreamWriter : public PropExchange {
 public:
  StreamWriter() : PropExchange(false) {}
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  void UInt32(const char*, std::uint32_t& value, std::uint32_t) override;
  void Int32(const char*, std::int32_t& value, std::int32_t) override;
  void Int16(const char*, std::int16_t& value, std::int16_t) override;
  void Bool(const char*, bool& value, bool) override;
  void String(const char*, std::string& value, const std::string&) override;

 private:
  void Put(std::uint64_t value, int size);
  std::vector<std::uint8_t> bytes_;
};

// Reads the stream form; never reads past the end of the bytes it was given.
class StreamReader : public PropExchange {
 public:
  explicit StreamReader(std::span<const std::uint8_t> bytes) : PropExchange(true), bytes_(bytes) {}
  // True when every item loaded and every byte was used.
  bool Complete() const { return ok() && pos_ == bytes_.size(); }

  void UInt32(const char*, std::uint32_t& value, std::uint32_t) override;
  void Int32(const char*, std::int32_t& value, std::int32_t) override;
  void Int16(const char*, std::int16_t& value, std::int16_t) override;
  void Bool(const char*, bool& value, bool) override;
  void String(const char*, std::string& value, const std::string&) override;

 private:
  bool Get(std::uint64_t& value, int size);
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

// Loads from or saves to a property bag.
class BagExchange : public PropExchange {
 public:
  // Loading from a bag that is only read.
  explicit BagExchange(const PropertyBag& bag) : PropExchange(true), in_(&bag) {}
  // Saving into a bag.
  explicit BagExchange(PropertyBag& bag) : PropExchange(false), in_(&bag), out_(&bag) {}

  void UInt32(const char* name, std::uint32_t& value, std::uint32_t def) override;
  void Int32(const char* name, std::int32_t& value, std::int32_t def) override;
  void Int16(const char* name, std::int16_t& value, std::int16_t def) override;
  void Bool(const char* name, bool& value, bool def) override;
  void String(const char* name, std::string& value, const std::string& def) override;

 private:
  // Reads one item: false when it is missing; a present item of the wrong type fails the load.
  template <typename T, typename Convert>
  void Load(const char* name, T& value, const T& def, Convert convert);
  const PropertyBag* in_;
  PropertyBag* out_ = nullptr;
};

}  // namespace ole
