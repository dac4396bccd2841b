// The channel that the save loop stores as number n, for the loop and the test that checks
// what it left behind.
#pragma once

#include "app/memory/UchanFile.h"

inline chanfile::StoredChannel NumberedChannel(int n) {
  chanfile::StoredChannel c;
  c.name = "Канал №" + QString::number(n);
  c.freq = 1000000 + n;
  c.polosa = 3000;
  c.mode = chanfile::kAM;
  return c;
}
