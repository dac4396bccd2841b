#pragma once
// The source side of a control's event interface: containers advise a sink and receive every
// event, by dispatch id with its arguments, synchronously on the firing thread.

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/ole/Variant.h"

namespace ole {

using EventSink = std::function<void(DispId id, const Args& args)>;

class ConnectionPoint {
 public:
  // Returns a cookie for Unadvise (never 0).
  std::uint32_t Advise(EventSink sink);
  bool Unadvise(std::uint32_t cookie);
  // Calls every sink in the order they were advised. A sink may advise or unadvise from
  // inside the call; the change takes effect from the next event.
  void Fire(DispId id, const Args& args) const;

 private:
  struct Connection {
    std::uint32_t cookie;
    EventSink sink;
  };
  std::vector<Connection> connections_;
  std::uint32_t nextCookie_ = 1;
};

}  // namespace ole
