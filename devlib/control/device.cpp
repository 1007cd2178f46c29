// device.cpp - opening and closing a reader by index.
#include <stdio.h>

#include "KX7300V20.h"
#include "driver_interface.h"
#include "../seam/system.h"

using kx::NoDevice;
using kx::System;

extern "C" HANDLE NFP_CALL NFP_Open(int index) {
    char path[260];
    snprintf(path, sizeof path, "%s%d", kx::kDevicePathPrefix, index);
    return System().openDevice(path);
}

extern "C" int NFP_CALL NFP_Close(HANDLE device) {
    if (device == NoDevice()) return NFP_ERR_NO_DEVICE;
    return System().closeHandle(device) ? NFP_OK : NFP_ERR_GENERAL;
}
