// control_protocol.h - the private requests of the virtual reader driver's
// control device, shared by the driver and the vreader tool.
//
// Holds: the control device's names, the request codes and their records.
// Needs reader.h (Description, LogEntry, Fault).
//
// The control device is not a reader: the library never opens it. Every
// request is buffered; every record is a plain struct that the driver and
// the tool, built from the same tree by the same compiler, lay out alike.
// Each record starts with its size-bearing fields so the driver can check
// the input length before it reads anything else.
#ifndef VREADER_DRIVER_CONTROL_PROTOCOL_H
#define VREADER_DRIVER_CONTROL_PROTOCOL_H

#include <stdint.h>

#include "../model/reader.h"

namespace vreader {
namespace control {

// User mode opens kControlPath; the driver creates kDeviceName with the
// link kLinkName.
constexpr char kControlPath[] = "\\\\.\\KX7300VReader";
constexpr wchar_t kDeviceName[] = L"\\Device\\KX7300VReader";
constexpr wchar_t kLinkName[] = L"\\DosDevices\\KX7300VReader";

// Reader device objects: kReaderDeviceName / kReaderLinkName + index.
constexpr wchar_t kReaderDeviceName[] = L"\\Device\\KX7300Device-";
constexpr wchar_t kReaderLinkName[] = L"\\DosDevices\\KX7300Device-";

// Service and file name of the driver.
constexpr char kServiceName[] = "kxvreader";

// Reader indices the driver serves: 0 .. kMaxReaders - 1.
constexpr uint32_t kMaxReaders = 16;

// A replay larger than this is refused: it lives in nonpaged pool.
constexpr uint32_t kMaxReplay = 16u << 20;

// Private functions start well above the readers' 0x851..0x869.
enum Request : uint32_t {
    VR_ATTACH = kx::ControlCode(0xA00),        // AttachRequest + replay bytes
    VR_DETACH = kx::ControlCode(0xA01),        // IndexRequest
    VR_LIST = kx::ControlCode(0xA02),          // out: ListReply
    VR_LOG_READ = kx::ControlCode(0xA03),      // LogRequest; out: LogReply + entries
    VR_LOG_CLEAR = kx::ControlCode(0xA04),     // IndexRequest
    VR_FAULT = kx::ControlCode(0xA05),         // FaultRequest
    VR_CLEAR_FAULTS = kx::ControlCode(0xA06),  // IndexRequest
    VR_PRESS = kx::ControlCode(0xA07),         // PressRequest
    VR_STATE = kx::ControlCode(0xA08),         // IndexRequest; out: StateReply
    VR_PEEK = kx::ControlCode(0xA09),          // PeekRequest; out: the bytes
    VR_SHORT_READ = kx::ControlCode(0xA0A),    // ValueRequest
};

struct IndexRequest {
    uint32_t index;
};

// How the reader was made.
enum Origin : uint32_t {
    kAttached = 1,      // by VR_ATTACH
    kDeviceNode = 2,    // by Plug and Play, for a device node of the driver
};

// Attach a reader, or with kAttachReplace describe an existing one anew.
// The input is exactly sizeof(AttachRequest) + replaySize bytes. With
// kAttachReplay the reads answer the replay bytes, even none, instead of
// the generated image stream.
enum AttachFlags : uint32_t { kAttachReplace = 1, kAttachReplay = 2 };
struct AttachRequest {
    uint32_t descriptionSize;   // sizeof(Description): same tree on both sides
    uint32_t replaySize;        // bytes behind this record; 0 for none
    uint32_t index;
    uint32_t flags;
    Description description;
    uint8_t image[kImageSize];  // the pixels Reader::Image() shows
};

struct ReaderInfo {
    uint32_t index;
    uint32_t origin;
    uint8_t identity[2];
    uint8_t led;
    uint8_t buttonRegistered;
    uint32_t logCount;
    uint8_t serial[32];
    uint8_t userdata[32];
};

struct ListReply {
    uint32_t count;
    ReaderInfo readers[kMaxReaders];
};

// Log entries from `first` (0 = the oldest kept); the reply holds as many
// as the output buffer has room for.
struct LogRequest {
    uint32_t index;
    uint32_t first;
};
struct LogReply {
    uint32_t total;     // entries kept
    uint32_t dropped;   // older entries no longer kept
    uint32_t first;
    uint32_t count;     // entries behind this record
};

struct FaultRequest {
    uint32_t index;
    uint32_t code;      // a request code, or kReadCode
    uint32_t nth;       // 0: always; n: only its nth time
};

struct PressRequest {
    uint32_t index;
    uint32_t status;
};

struct ValueRequest {
    uint32_t index;
    uint32_t value;
};

// How the driver holds the event that REQ_BUTTON_EVENT registered.
enum EventBinding : uint32_t {
    kEventNone = 0,     // none registered, or neither way found it
    kEventByHandle = 1, // the caller's handle, in the caller's context
    kEventByName = 2,   // the monitor's named event, opened by name
};

struct StateReply {
    uint32_t index;
    uint32_t origin;
    uint8_t identity[2];
    uint8_t led;
    uint8_t buttonRegistered;
    uint32_t buttonEvent;       // the handle value the library registered
    uint32_t eventBinding;      // EventBinding
    uint32_t buttonStatus;
    uint32_t signals;           // button notifications delivered to the event
    uint16_t scardAddress;      // values of the last smart-card request
    uint16_t scardAuxiliary;
    uint32_t shortRead;
    uint32_t replaySize;
    uint32_t faultCount;
    Fault faults[kMaxFaults];
    uint8_t registers[256];
};

// A look into the reader's memories, for the tool.
enum PeekSpace : uint32_t { kPeekParameters = 0, kPeekScard = 1 };
struct PeekRequest {
    uint32_t index;
    uint32_t space;     // PeekSpace
    uint32_t address;
    uint32_t length;    // at most the output size; wraps in the card store
};

}  // namespace control
}  // namespace vreader

#endif
