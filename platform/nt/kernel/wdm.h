// What a WDM driver includes for the kernel: types, dispatcher objects, spin locks, the I/O
// manager and its remove lock, pool, object references, power and the registry. The driver's
// build sees this folder and nothing else of the stand-in, and no C++ library.
#pragma once

#include "../NtDef.h"
#include "../Ke.h"
#include "../Io.h"
#include "../Pool.h"
#include "../Ob.h"
#include "../Power.h"
#include "../Registry.h"
