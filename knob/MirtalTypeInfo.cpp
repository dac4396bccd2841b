#include "knob/MirtalTypeInfo.h"

#include "knob/MirtalIds.h"

namespace mirtal {
namespace {

using Kind = ole::MemberInfo::Kind;
using Type = ole::Variant::Type;

ole::MemberInfo Property(ole::DispId id, const char* name, Type type, const char* help) {
  return {id, name, Kind::Property, type, {}, help};
}

ole::MemberInfo Method(ole::DispId id, const char* name, std::vector<ole::ParamInfo> params, const char* help) {
  return {id, name, Kind::Method, Type::Empty, std::move(params), help};
}

std::vector<ole::MemberInfo> DispatchMembers() {
  // In the order the interface declares them: the properties by dispatch id, then the methods.
  std::vector<ole::MemberInfo> m = {
      Property(dispid::Step, "Step", Type::Int32, "Шаг за один такт"),
      Property(dispid::BigStep, "BigStep", Type::Int32, "Грубый шаг за один такт (с нажатой Shift)"),
  };
  const auto mode = kVariantG
                        ? Property(dispid::Mode, "Background", Type::Int32, "Вид ручки: 0 — большая, 1 — поменьше, 2 — градусы")
                        : Property(dispid::Mode, "Kind", Type::Int32, "Вид ручки: 0 — большая, иначе — поменьше (0…255)");
  if (!kVariantG) m.push_back(mode);
  m.push_back(Property(dispid::UpRange, "UpRange", Type::Int32, "Верхняя граница значения"));
  m.push_back(Property(dispid::DNRange, "DNRange", Type::Int32, "Нижняя граница значения"));
  m.push_back(Property(dispid::ShowToolTip, "ShowToolTip", Type::Bool, "Показывать подсказку"));
  m.push_back(Property(dispid::ToolTipText, "ToolTipText", Type::String, "Текст подсказки"));
  m.push_back(Property(dispid::Timer, "Timer", Type::Int16, "Тактов в секунду при удержании кнопки (5–20)"));
  if (kVariantG) m.push_back(mode);
  m.push_back(Property(dispid::ValueMirtal, "ValueMirtal", Type::Int32, "Текущее значение"));
  m.push_back(Method(dispid::Run, "Run", {{"Dir", Type::Bool}, {"Start", Type::Bool}},
                     "Начать (Start) или закончить вращение: Dir — вниз, иначе вверх"));
  m.push_back(Method(dispid::AboutBox, "AboutBox", {}, "Окно «О программе»"));
  return m;
}

std::vector<ole::MemberInfo> EventMembers() {
  std::vector<ole::MemberInfo> m = {
      Method(event::GetValue, "GetValue", {{"Value", Type::Int32}}, "Значение, при каждой перерисовке"),
  };
  if (kVariantG)
    m.push_back(Method(event::Mouse, "Mouse", {{"bDown", Type::Bool}}, "Кнопка мыши нажата или отпущена"));
  else {
    m.push_back(Method(event::Mouse, "Mouse", {{"bDown", Type::Bool}}, "Объявлено, не посылается"));
    m.push_back(Method(event::MouseInt, "MouseInt", {{"Value", Type::Int32}},
                       "1 — вращение началось, 0 — закончилось"));
  }
  return m;
}

}  // namespace

const ole::TypeInfo& DispatchTypeInfo() {
  static const ole::TypeInfo info(kDispatchIid, "_DMirtal", kDispatchDoc, DispatchMembers());
  return info;
}

const ole::TypeInfo& EventTypeInfo() {
  static const ole::TypeInfo info(kEventsIid, "_DMirtalEvents", kEventsDoc, EventMembers());
  return info;
}

}  // namespace mirtal
