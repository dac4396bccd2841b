#pragma once
// The automation identity of the knob: class and interface ids, dispatch ids, names. The same
// sources build two controls; MIRTAL_VARIANT_G=1 selects the teal variant, whose mode property
// `Background` (with a degree mode) takes the place of `Kind` and whose `Mouse` event takes the
// place of `MouseInt`.

#include <cstdint>

#include "platform/ole/OleTypes.h"

#ifndef MIRTAL_VARIANT_G
#define MIRTAL_VARIANT_G 0
#endif

namespace mirtal {

inline constexpr bool kVariantG = MIRTAL_VARIANT_G != 0;

#if MIRTAL_VARIANT_G
inline constexpr const char* kLibId = "{875A7D83-865E-11D5-A5D7-0050BF3480D6}";
inline constexpr const char* kDispatchIid = "{875A7D84-865E-11D5-A5D7-0050BF3480D6}";
inline constexpr const char* kEventsIid = "{875A7D85-865E-11D5-A5D7-0050BF3480D6}";
inline constexpr const char* kClsid = "{875A7D86-865E-11D5-A5D7-0050BF3480D6}";
// A page of its own: it edits `Background`, which the other build does not have, so the two
// libraries must not serve each other's page.
inline constexpr const char* kPropPageClsid = "{875A7D87-865E-11D5-A5D7-0050BF3480D6}";
inline constexpr const char* kTypeLibVersion = "1.1";
inline constexpr const char* kHelpString = "MirtalG ActiveX Control module";
inline constexpr const char* kHelpFile = "MirtalG.hlp";
inline constexpr const char* kDispatchDoc = "Dispatch interface for MirtalG Control";
inline constexpr const char* kEventsDoc = "Event interface for MirtalG Control";
inline constexpr const char* kProgId = "MIRTALG.MirtalCtrl.1";
inline constexpr const char* kPropPageProgId = "MIRTALG.MirtalPropPage.1";
inline constexpr std::uint32_t kStoredVersion = 0x00010001;
inline constexpr const char* kPicturePrefix = ":/mirtalg/";
#else
inline constexpr const char* kLibId = "{875A7D83-865E-11D5-A5D7-0050BF3480D5}";
inline constexpr const char* kDispatchIid = "{875A7D84-865E-11D5-A5D7-0050BF3480D5}";
inline constexpr const char* kEventsIid = "{875A7D85-865E-11D5-A5D7-0050BF3480D5}";
inline constexpr const char* kClsid = "{875A7D86-865E-11D5-A5D7-0050BF3480D5}";
inline constexpr const char* kPropPageClsid = "{875A7D87-865E-11D5-A5D7-0050BF3480D5}";
inline constexpr const char* kTypeLibVersion = "1.0";
inline constexpr const char* kHelpString = "Mirtal ActiveX Control module";
inline constexpr const char* kHelpFile = "Mirtal.hlp";
inline constexpr const char* kDispatchDoc = "Dispatch interface for Mirtal Control";
inline constexpr const char* kEventsDoc = "Event interface for Mirtal Control";
inline constexpr const char* kProgId = "MIRTAL.MirtalCtrl.1";
inline constexpr const char* kPropPageProgId = "MIRTAL.MirtalPropPage.1";
inline constexpr std::uint32_t kStoredVersion = 0x00010000;
inline constexpr const char* kPicturePrefix = ":/mirtal/";
#endif

inline constexpr int kTypeLibLocale = 1033;
inline constexpr const char* kTypeName = "Mirtal Control";            // string 1
inline constexpr const char* kPropPageTypeName = "Mirtal Property Page";  // string 2
inline constexpr std::uint32_t kMiscStatus = 0x20191;  // recompose on resize, inside-out, ...
inline constexpr int kToolboxBitmap = 1;

// Dispatch ids of _DMirtal.
namespace dispid {
inline constexpr ole::DispId Step = 1;
inline constexpr ole::DispId BigStep = 2;
#if MIRTAL_VARIANT_G
inline constexpr ole::DispId UpRange = 3;
inline constexpr ole::DispId DNRange = 4;
inline constexpr ole::DispId ShowToolTip = 5;
inline constexpr ole::DispId ToolTipText = 6;
inline constexpr ole::DispId Timer = 7;
inline constexpr ole::DispId Mode = 8;  // Background
#else
inline constexpr ole::DispId Mode = 3;  // Kind
inline constexpr ole::DispId UpRange = 4;
inline constexpr ole::DispId DNRange = 5;
inline constexpr ole::DispId ShowToolTip = 6;
inline constexpr ole::DispId ToolTipText = 7;
inline constexpr ole::DispId Timer = 8;
#endif
inline constexpr ole::DispId ValueMirtal = 9;
inline constexpr ole::DispId Run = 10;
inline constexpr ole::DispId AboutBox = ole::DISPID_ABOUTBOX;
}  // namespace dispid

// Dispatch ids of _DMirtalEvents.
namespace event {
inline constexpr ole::DispId GetValue = 1;
inline constexpr ole::DispId Mouse = 2;
inline constexpr ole::DispId MouseInt = 3;  // this build only without MIRTAL_VARIANT_G
}  // namespace event

// Property defaults.
inline constexpr std::int32_t kDefaultStep = 1000;
inline constexpr std::int32_t kDefaultBigStep = 10000;
inline constexpr std::int32_t kDefaultMode = 0;
inline constexpr std::int32_t kDefaultUpRange = 1999999000;
inline constexpr std::int32_t kDefaultDNRange = 30000;
inline constexpr bool kDefaultShowToolTip = true;
inline constexpr std::int16_t kDefaultTimer = 20;

}  // namespace mirtal
