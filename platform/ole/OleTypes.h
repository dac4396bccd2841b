#pragma once
// Result codes, dispatch ids and call kinds shared by controls and their containers.

#include <cstdint>

namespace ole {

using HRESULT = std::int32_t;
using DispId = std::int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT SELFREG_E_TYPELIB = static_cast<HRESULT>(0x80040200u);
constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201u);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);
constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);
constexpr HRESULT STG_E_READFAULT = static_cast<HRESULT>(0x8003001Eu);

constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }

// The standard dispatch id of a control's About box.
constexpr DispId DISPID_ABOUTBOX = -552;
// What a name lookup gives for a name it does not know.
constexpr DispId DISPID_UNKNOWN = -1;

// How a member is reached through the dispatch interface.
enum class InvokeKind { Method, PropertyGet, PropertyPut };

}  // namespace ole
