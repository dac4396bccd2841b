#include "platform/ole/TypeInfo.h"

#include <strings.h>

namespace ole {
namespace {

bool SameName(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

}  // namespace

TypeInfo::TypeInfo(std::string iid, std::string name, std::string docString, std::vector<MemberInfo> members)
    : iid_(std::move(iid)), name_(std::move(name)), docString_(std::move(docString)), members_(std::move(members)) {}

const MemberInfo* TypeInfo::MemberNamed(const std::string& name) const {
  for (const auto& m : members_)
    if (SameName(m.name, name)) return &m;
  return nullptr;
}

const MemberInfo* TypeInfo::Member(DispId id) const {
  for (const auto& m : members_)
    if (m.id == id) return &m;
  return nullptr;
}

HRESULT TypeInfo::GetIDsOfNames(const std::vector<std::string>& names, std::vector<DispId>& ids) const {
  ids.assign(names.size(), DISPID_UNKNOWN);
  if (names.empty()) return E_INVALIDARG;
  const MemberInfo* member = MemberNamed(names[0]);
  if (!member) return DISP_E_UNKNOWNNAME;
  ids[0] = member->id;
  HRESULT hr = S_OK;
  for (std::size_t i = 1; i < names.size(); ++i) {
    ids[i] = DISPID_UNKNOWN;
    for (std::size_t p = 0; p < member->params.size(); ++p)
      if (SameName(member->params[p].name, names[i])) ids[i] = static_cast<DispId>(p);
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT TypeInfo::IdOfName(const std::string& name, DispId& id) const {
  std::vector<DispId> ids;
  const HRESULT hr = GetIDsOfNames({name}, ids);
  id = ids.at(0);
  return hr;
}

}  // namespace ole
