#include "platform/ole/ConnectionPoint.h"

#include <algorithm>

namespace ole {

std::uint32_t ConnectionPoint::Advise(EventSink sink) {
  std::uint32_t cookie = nextCookie_++;
  connections_.push_back({cookie, std::move(sink)});
  return cookie;
}

bool ConnectionPoint::Unadvise(std::uint32_t cookie) {
  auto it = std::find_if(connections_.begin(), connections_.end(),
                         [cookie](const Connection& c) { return c.cookie == cookie; });
  if (it == connections_.end()) return false;
  connections_.erase(it);
  return true;
}

void ConnectionPoint::Fire(DispId id, const Args& args) const {
  // A copy, so that a sink that advises or unadvises does not disturb this loop.
  auto snapshot = connections_;
  for (const auto& c : snapshot)
    if (c.sink) c.sink(id, args);
}

}  // namespace ole
