// driver_interface.h - what the library and a reader's driver agree on:
// the device path, the fourteen control codes and the byte layouts.
//
// Plain constants only, so that the virtual reader (in-process and as a
// kernel-mode driver) can include it as well.
#ifndef KX_DRIVER_INTERFACE_H
#define KX_DRIVER_INTERFACE_H

#include <stdint.h>

namespace kx {

// "\\.\KX7300Device-" followed by the reader index.
constexpr char kDevicePathPrefix[] = "\\\\.\\KX7300Device-";

// CTL_CODE(FILE_DEVICE_UNKNOWN, function, METHOD_BUFFERED, FILE_ANY_ACCESS)
constexpr uint32_t ControlCode(uint32_t function) { return (0x22u << 16) | (function << 2); }

enum Request : uint32_t {
    REQ_WRITE_REGISTER = ControlCode(0x851),  // 0x222144
    REQ_CAPTURE_OPEN = ControlCode(0x852),    // 0x222148
    REQ_TRANSFER_START = ControlCode(0x853),  // 0x22214C
    REQ_CAPTURE_ARM = ControlCode(0x854),     // 0x222150
    REQ_CAPTURE_CLOSE = ControlCode(0x855),   // 0x222154
    REQ_MEMORY_WRITE = ControlCode(0x85A),    // 0x222168
    REQ_MEMORY_READ = ControlCode(0x85B),     // 0x22216C
    REQ_SCARD_WRITE = ControlCode(0x85F),     // 0x22217C
    REQ_SCARD_READ = ControlCode(0x860),      // 0x222180
    REQ_BUTTON_READ = ControlCode(0x862),     // 0x222188
    REQ_BUTTON_STOP = ControlCode(0x863),     // 0x22218C
    REQ_BUTTON_EVENT = ControlCode(0x864),    // 0x222190
    REQ_LED_ON = ControlCode(0x868),          // 0x2221A0
    REQ_LED_OFF = ControlCode(0x869),         // 0x2221A4
};

// Three little-endian 16-bit words: address, auxiliary, length.
constexpr uint32_t kRangeHeaderSize = 6;

// Data bytes a write record carries behind its header, and the size of
// the reply buffer of a read.
constexpr uint32_t kWriteRecordData = 8194;
constexpr uint32_t kReplyBufferSize = 4100;

// The library's parameter-memory window.
constexpr uint32_t kParameterFirst = 5120;
constexpr uint32_t kParameterLast = 8191;
constexpr uint32_t kParameterEnd = 8192;

// Fixed areas of the parameter memory.
constexpr uint16_t kIdentityAddress = 7870;
constexpr uint16_t kUserDataAddress = 8128;
constexpr uint16_t kSerialAddress = 8160;

inline void PutWord(uint8_t *at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>(value >> 8);
}
inline uint16_t GetWord(const uint8_t *at) {
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

// The 32-bit values of the button requests (event handle, status word),
// little-endian.
inline void PutLong(uint8_t *at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
inline uint32_t GetLong(const uint8_t *at) {
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

}  // namespace kx

#endif
