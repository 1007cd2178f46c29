// indicator.cpp - the reader's OK indicator: one plain request each way.
#include "KX7300V20.h"
#include "requests.h"

extern "C" int NFP_CALL NFP_OK_LED_On(HANDLE device) {
    return kx::SendPlain(device, kx::REQ_LED_ON, NFP_ERR_LED);
}

extern "C" int NFP_CALL NFP_OK_LED_Off(HANDLE device) {
    return kx::SendPlain(device, kx::REQ_LED_OFF, NFP_ERR_LED);
}
