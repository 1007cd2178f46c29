// smartcard.cpp - the reader's smart-card channel. Address, auxiliary word
// and data belong to the card and its driver; they pass through untouched.
//
// A transfer longer than the library's stack records (8194 data bytes out,
// a 4100-byte reply in) is refused with the transfer's own failure code
// before anything is sent: such lengths always ran past those records, so
// no caller can have depended on them, and refusing keeps every transfer
// one request with no heap block.
#include "KX7300V20.h"
#include "requests.h"

using namespace kx;

namespace {
// memcpy wants real pointers even for zero bytes; an empty transfer may
// come with none.
const uint8_t kNoData = 0;
uint8_t noBuffer;
}  // namespace

extern "C" int NFP_CALL NFP_WriteScard(HANDLE device, unsigned short address,
                                       unsigned short auxiliary,
                                       unsigned short length,
                                       const unsigned char *data) {
    if (device == NoDevice()) return NFP_ERR_NO_DEVICE;
    if (length > kWriteRecordData) return NFP_ERR_SCARD_WRITE;
    if (length == 0 && !data) data = &kNoData;
    return SendRangeWrite(device, REQ_SCARD_WRITE, NFP_ERR_SCARD_WRITE, address,
                          auxiliary, length, data);
}

extern "C" int NFP_CALL NFP_ReadScard(HANDLE device, unsigned short address,
                                      unsigned short auxiliary,
                                      unsigned short length,
                                      unsigned char *buffer,
                                      unsigned short *returnedLength) {
    if (device == NoDevice()) return NFP_ERR_NO_DEVICE;
    if (length > kReplyBufferSize) return NFP_ERR_SCARD_READ;
    if (length == 0 && !buffer) buffer = &noBuffer;
    return SendRangeRead(device, REQ_SCARD_READ, NFP_ERR_SCARD_READ, address,
                         auxiliary, length, buffer, returnedLength);
}
