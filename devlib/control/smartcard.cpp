// smartcard.cpp - the reader's smart-card channel. Address, auxiliary word
// and data belong to the card and its driver; they pass through untouched.
//
// A transfer longer than the library's stack records (8194 data bytes out,
// a 4100-byte reply in) is refused by the range senders with the
// transfer's own failure code before anything is sent: such lengths always
// ran past those records, so no caller can have depended on them, and
// refusing keeps every transfer one request with no heap block. An empty
// transfer may come with no data pointer at all.
#include "KX7300V20.h"
#include "requests.h"

using namespace kx;

extern "C" int NFP_CALL NFP_WriteScard(HANDLE device, unsigned short address,
                                       unsigned short auxiliary,
                                       unsigned short length,
                                       const unsigned char *data) {
    return SendRangeWrite(device, REQ_SCARD_WRITE, NFP_ERR_SCARD_WRITE, address,
                          auxiliary, length, data);
}

extern "C" int NFP_CALL NFP_ReadScard(HANDLE device, unsigned short address,
                                      unsigned short auxiliary,
                                      unsigned short length,
                                      unsigned char *buffer,
                                      unsigned short *returnedLength) {
    return SendRangeRead(device, REQ_SCARD_READ, NFP_ERR_SCARD_READ, address,
                         auxiliary, length, buffer, returnedLength);
}
