// What a USB client driver includes for the bus: descriptors, URBs and the USBD routines.
#pragma once

#include "../Usb.h"
