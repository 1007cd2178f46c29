// requests.cpp - the request operations: one synchronous control request
// each, buffers on the stack, nothing on the heap.
#include "requests.h"

#include <string.h>

#include "KX7300V20.h"

namespace kx {

int SendPlain(Handle device, uint32_t code, int failureCode) {
    if (device == NoDevice()) return NFP_ERR_NO_DEVICE;
    uint32_t returned = 0;
    return System().control(device, code, nullptr, 0, nullptr, 0, &returned)
               ? NFP_OK
               : failureCode;
}

int WriteRegister(Handle device, uint8_t reg, uint8_t value) {
    if (device == NoDevice()) return NFP_ERR_NO_DEVICE;
    const uint8_t record[2] = {reg, value};
    uint32_t returned = 0;
    return System().control(device, REQ_WRITE_REGISTER, record, sizeof record,
                            nullptr, 0, &returned)
               ? NFP_OK
               : NFP_ERR_WRITE_REGISTER;
}

int CaptureOpen(Handle device) {
    return SendPlain(device, REQ_CAPTURE_OPEN, NFP_ERR_CAPTURE_OPEN);
}
int CaptureArm(Handle device) {
    return SendPlain(device, REQ_CAPTURE_ARM, NFP_ERR_CAPTURE_ARM);
}
int TransferStart(Handle device) {
    return SendPlain(device, REQ_TRANSFER_START, NFP_ERR_TRANSFER_START);
}
int CaptureClose(Handle device) {
    return SendPlain(device, REQ_CAPTURE_CLOSE, NFP_ERR_CAPTURE_ARM);
}

static void PutHeader(uint8_t *header, uint16_t address, uint16_t auxiliary,
                      uint16_t length) {
    PutWord(header, address);
    PutWord(header + 2, auxiliary);
    PutWord(header + 4, length);
}

int SendRangeRead(Handle device, uint32_t code, int failureCode,
                  uint16_t address, uint16_t auxiliary, uint16_t length,
                  uint8_t *destination, uint16_t *returnedLength) {
    if (device == NoDevice()) return NFP_ERR_NO_DEVICE;
    if (length > kReplyBufferSize) return failureCode;  // callers refuse these first
    uint8_t header[kRangeHeaderSize];
    PutHeader(header, address, auxiliary, length);
    uint8_t reply[kReplyBufferSize];
    uint32_t returned = 0;
    if (!System().control(device, code, header, sizeof header, reply, length,
                          &returned))
        return failureCode;
    // Buffered transfer never returns more than asked; a driver that claims
    // otherwise must not make us copy past either buffer.
    if (returned > length) returned = length;
    if (returnedLength) *returnedLength = static_cast<uint16_t>(returned);
    if (returned) memcpy(destination, reply, returned);
    return NFP_OK;
}

int SendRangeWrite(Handle device, uint32_t code, int failureCode,
                   uint16_t address, uint16_t auxiliary, uint16_t length,
                   const uint8_t *source) {
    if (device == NoDevice()) return NFP_ERR_NO_DEVICE;
    if (length > kWriteRecordData) return failureCode;  // callers refuse these first
    uint8_t record[kRangeHeaderSize + kWriteRecordData];
    PutHeader(record, address, auxiliary, length);
    if (length) memcpy(record + kRangeHeaderSize, source, length);
    uint32_t returned = 0;
    return System().control(device, code, record, kRangeHeaderSize + length,
                            nullptr, 0, &returned)
               ? NFP_OK
               : failureCode;
}

// Handle first, then the window start, then the window end.
static int CheckWindow(Handle device, uint16_t address, uint16_t length) {
    if (device == NoDevice()) return NFP_ERR_NO_DEVICE;
    if (address < kParameterFirst || address > kParameterLast)
        return NFP_ERR_ADDRESS;
    if (static_cast<uint32_t>(address) + length > kParameterEnd)
        return NFP_ERR_RANGE;
    return NFP_OK;
}

int ReadParameterMemory(Handle device, uint16_t address, uint16_t auxiliary,
                        uint16_t length, uint8_t *destination,
                        uint16_t *returnedLength) {
    int check = CheckWindow(device, address, length);
    if (check != NFP_OK) return check;
    return SendRangeRead(device, REQ_MEMORY_READ, NFP_ERR_MEMORY_READ, address,
                         auxiliary, length, destination, returnedLength);
}

int WriteParameterMemory(Handle device, uint16_t address, uint16_t auxiliary,
                         uint16_t length, const uint8_t *source) {
    int check = CheckWindow(device, address, length);
    if (check != NFP_OK) return check;
    return SendRangeWrite(device, REQ_MEMORY_WRITE, NFP_ERR_MEMORY_WRITE,
                          address, auxiliary, length, source);
}

}  // namespace kx
