// requests.h - the library's requests to a reader's driver, each answering
// a result code of KX7300V20.h. Used by every part of the library that
// talks to a reader.
#ifndef KX_CONTROL_REQUESTS_H
#define KX_CONTROL_REQUESTS_H

#include <stdint.h>

#include "../seam/system.h"
#include "driver_interface.h"

namespace kx {

// A request with no input and no output; failure answers failureCode.
int SendPlain(Handle device, uint32_t code, int failureCode);

int WriteRegister(Handle device, uint8_t reg, uint8_t value);
int CaptureOpen(Handle device);
int CaptureArm(Handle device);
int TransferStart(Handle device);
int CaptureClose(Handle device);

// A RangeHeader-led read: the header goes out, length bytes come back
// into destination. On failure neither destination nor returnedLength is
// written. A reply claiming more than length bytes is cut to length.
// A length beyond kReplyBufferSize answers failureCode, nothing sent.
int SendRangeRead(Handle device, uint32_t code, int failureCode,
                  uint16_t address, uint16_t auxiliary, uint16_t length,
                  uint8_t *destination, uint16_t *returnedLength);

// A RangeHeader-led write of 6 + length bytes. A length beyond
// kWriteRecordData answers failureCode, nothing sent.
int SendRangeWrite(Handle device, uint32_t code, int failureCode,
                   uint16_t address, uint16_t auxiliary, uint16_t length,
                   const uint8_t *source);

int ReadParameterMemory(Handle device, uint16_t address, uint16_t auxiliary,
                        uint16_t length, uint8_t *destination,
                        uint16_t *returnedLength);
int WriteParameterMemory(Handle device, uint16_t address, uint16_t auxiliary,
                         uint16_t length, const uint8_t *source);

}  // namespace kx

#endif
