#pragma once
// The type information of one dispatch or event interface: for each member its name, dispatch
// id, kind, argument names and types, result type and help string. A container reads it to
// bind a control's properties, methods and events by name instead of by number.

#include <string>
#include <vector>

#include "platform/ole/OleTypes.h"
#include "platform/ole/Variant.h"

namespace ole {

struct ParamInfo {
  std::string name;
  Variant::Type type;
  bool operator==(const ParamInfo&) const = default;
};

struct MemberInfo {
  enum class Kind { Property, Method };
  DispId id;
  std::string name;
  Kind kind;
  // A property's type, or a method's result (Empty: no result). Events are methods.
  Variant::Type type;
  std::vector<ParamInfo> params;
  std::string helpString;
};

class TypeInfo {
 public:
  TypeInfo(std::string iid, std::string name, std::string docString, std::vector<MemberInfo> members);

  const std::string& Iid() const { return iid_; }
  const std::string& Name() const { return name_; }
  const std::string& DocString() const { return docString_; }
  const std::vector<MemberInfo>& Members() const { return members_; }

  // Looks up names[0] as a member and the names after it as that member's arguments, without
  // regard to case. ids gets one entry per name: the member's dispatch id, then each
  // argument's position. A name that is not known gets DISPID_UNKNOWN and the call returns
  // DISP_E_UNKNOWNNAME (an empty list: E_INVALIDARG).
  HRESULT GetIDsOfNames(const std::vector<std::string>& names, std::vector<DispId>& ids) const;
  // The dispatch id of one member; DISP_E_UNKNOWNNAME and DISPID_UNKNOWN when there is none.
  HRESULT IdOfName(const std::string& name, DispId& id) const;
  // The member with this dispatch id, or null.
  const MemberInfo* Member(DispId id) const;

 private:
  const MemberInfo* MemberNamed(const std::string& name) const;

  std::string iid_;
  std::string name_;
  std::string docString_;
  std::vector<MemberInfo> members_;
};

}  // namespace ole
