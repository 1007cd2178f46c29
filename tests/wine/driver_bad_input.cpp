// driver_bad_input: requests with too short an input or output, unknown
// codes and other transfer methods, sent raw to a reader and to the
// control device. Each is refused with an error and returns nothing; the
// driver goes on serving. A handle kept across a detach fails cleanly.
//
//   driver_bad_input INDEX     (a free index: the program attaches there)
#include <windows.h>

#include <stdlib.h>

#include "driver_control.h"

using namespace vreader::control;
using test::Check;

namespace {

constexpr DWORD kWriteRegister = 0x222144;
constexpr DWORD kMemoryWrite = 0x222168;
constexpr DWORD kMemoryRead = 0x22216C;
constexpr DWORD kScardWrite = 0x22217C;
constexpr DWORD kScardRead = 0x222180;
constexpr DWORD kButtonRead = 0x222188;
constexpr DWORD kButtonEvent = 0x222190;

struct Case {
    const char *what;
    DWORD code;
    uint16_t address, length;  // the RangeHeader placed at the input's start
    DWORD inSize, outSize;
    bool succeeds;
};

// Around each refusal, the same request with sizes that fit succeeds.
const Case kReaderCases[] = {
    {"memory read that fits", kMemoryRead, 8128, 32, 6, 32, true},
    {"memory read, header of 5 bytes", kMemoryRead, 8128, 32, 5, 32, false},
    {"memory read, no input", kMemoryRead, 8128, 32, 0, 32, false},
    {"memory read, output 31 for 32", kMemoryRead, 8128, 32, 6, 31, false},
    {"memory read past the memory's end", kMemoryRead, 8180, 32, 6, 32, false},
    {"memory write that fits", kMemoryWrite, 8128, 32, 38, 0, true},
    {"memory write, 31 data bytes for 32", kMemoryWrite, 8128, 32, 37, 0, false},
    {"memory write, header of 4 bytes", kMemoryWrite, 8128, 0, 4, 0, false},
    {"card write that fits", kScardWrite, 0x10, 10, 16, 0, true},
    {"card write, 9 data bytes for 10", kScardWrite, 0x10, 10, 15, 0, false},
    {"card read that fits", kScardRead, 0x10, 10, 6, 10, true},
    {"card read, output 9 for 10", kScardRead, 0x10, 10, 6, 9, false},
    {"card read, header of 2 bytes", kScardRead, 0x10, 10, 2, 10, false},
    {"register write of 2 bytes", kWriteRegister, 0, 0, 2, 0, true},
    {"register write of 1 byte", kWriteRegister, 0, 0, 1, 0, false},
    {"button read into 4 bytes", kButtonRead, 0, 0, 0, 4, true},
    {"button read into 3 bytes", kButtonRead, 0, 0, 0, 3, false},
    {"button event of 3 bytes", kButtonEvent, 0, 0, 3, 0, false},
    {"unknown code 0x222000", 0x222000, 0, 0, 0, 0, false},
    {"unknown code with data", 0x2221FC, 8128, 32, 6, 32, false},
    {"memory read as METHOD_IN_DIRECT", kMemoryRead | 1, 8128, 32, 6, 32, false},
    {"memory read as METHOD_NEITHER", kMemoryRead | 3, 8128, 32, 6, 32, false},
    {"control device code on a reader", VR_LIST, 0, 0, 0, sizeof(ListReply), false},
};

void Header(uint8_t *at, uint16_t address, uint16_t length) {
    at[0] = static_cast<uint8_t>(address);
    at[1] = static_cast<uint8_t>(address >> 8);
    at[2] = at[3] = 0;
    at[4] = static_cast<uint8_t>(length);
    at[5] = static_cast<uint8_t>(length >> 8);
}

void ReaderCases(HANDLE reader) {
    static uint8_t input[8192], output[sizeof(ListReply)];
    for (const Case &c : kReaderCases) {
        memset(input, 0x5A, sizeof input);
        Header(input, c.address, c.length);
        memset(output, 0xEE, sizeof output);
        DWORD returned = 0;
        bool ok = test::Ioctl(reader, c.code, input, c.inSize, output, c.outSize, &returned);
        char what[160];
        snprintf(what, sizeof what, "%s: %s", c.what, c.succeeds ? "succeeds" : "refused");
        if (c.succeeds) {
            Check(ok && returned <= c.outSize, what);
        } else {
            bool untouched = true;
            for (DWORD i = 0; i < c.outSize; ++i) untouched = untouched && output[i] == 0xEE;
            Check(!ok && untouched, what);
        }
    }
    // An image read before any transfer has started has nothing to give.
    DWORD got = 0xDEAD;
    uint8_t frame[4096];
    Check(!ReadFile(reader, frame, sizeof frame, &got, nullptr) && got == 0,
          "image read before TransferStart: refused");
}

struct ControlCase {
    const char *what;
    DWORD code;
    DWORD inSize, outSize;
    DWORD error;  // the error the tool explains, 0 for any
};

void ControlCases(HANDLE control, uint32_t index) {
    static uint8_t input[sizeof(AttachRequest) + 64], output[sizeof(StateReply) + 64];
    uint32_t words[4] = {index, 0, 0, 0};
    const ControlCase cases[] = {
        {"log read, input of 4 bytes", VR_LOG_READ, 4, sizeof(LogReply), 0},
        {"log read, output of 15 bytes", VR_LOG_READ, sizeof(LogRequest), sizeof(LogReply) - 1,
         0},
        {"state, output one byte short", VR_STATE, sizeof(IndexRequest), sizeof(StateReply) - 1,
         0},
        {"list, output one byte short", VR_LIST, 0, sizeof(ListReply) - 1, 0},
        {"fault, input of 8 bytes", VR_FAULT, 8, 0, 0},
        {"press, input of 4 bytes", VR_PRESS, 4, 0, 0},
        {"detach, no input", VR_DETACH, 0, 0, 0},
        {"peek, input of 12 bytes", VR_PEEK, 12, 16, 0},
        {"unknown control code", kx::ControlCode(0xA7F), 16, 16, ERROR_INVALID_FUNCTION},
        {"control code as METHOD_NEITHER", VR_STATE | 3, sizeof(IndexRequest), sizeof(StateReply),
         0},
    };
    for (const ControlCase &c : cases) {
        memset(input, 0, sizeof input);
        memcpy(input, words, sizeof words);
        memset(output, 0xEE, sizeof output);
        DWORD returned = 0, error = 0;
        bool ok = test::Ioctl(control, c.code, input, c.inSize, output, c.outSize, &returned,
                              &error);
        char what[160];
        snprintf(what, sizeof what, "control: %s: refused", c.what);
        Check(!ok && (!c.error || error == c.error), what);
    }

    // Attach records: every size and field is checked before use.
    auto *request = reinterpret_cast<AttachRequest *>(input);
    auto attach = [&](DWORD size, DWORD *error) {
        return test::Ioctl(control, VR_ATTACH, input, size, nullptr, 0, nullptr, error);
    };
    DWORD error = 0;
    memset(input, 0, sizeof input);
    request->descriptionSize = sizeof(vreader::Description);
    request->index = index + 1;
    Check(!attach(4, &error), "attach, input of 4 bytes: refused");
    request->descriptionSize = sizeof(vreader::Description) - 4;
    Check(!attach(sizeof(AttachRequest), &error) && error == ERROR_REVISION_MISMATCH,
          "attach, description of another size: refused as another build");
    request->descriptionSize = sizeof(vreader::Description);
    request->replaySize = 64;
    Check(!attach(sizeof(AttachRequest), &error), "attach, replay bytes missing: refused");
    request->replaySize = 0xFFFFFFF0u;
    Check(!attach(sizeof(AttachRequest), &error), "attach, replay size near 4 GB: refused");
    request->replaySize = 0;
    request->index = kMaxReaders;
    Check(!attach(sizeof(AttachRequest), &error), "attach at index 16: refused");

    // A peek inside the window works, one past it does not.
    PeekRequest peek = {index, kPeekParameters, 8160, 32};
    DWORD returned = 0;
    Check(test::Ioctl(control, VR_PEEK, &peek, sizeof peek, output, 32, &returned) &&
              returned == 32,
          "peek at the serial number: 32 bytes");
    peek.address = 8161;
    Check(!test::Ioctl(control, VR_PEEK, &peek, sizeof peek, output, 32),
          "peek one byte past the parameter memory: refused");
    peek = PeekRequest{index, 7, 0, 4};
    Check(!test::Ioctl(control, VR_PEEK, &peek, sizeof peek, output, 4),
          "peek into an unknown space: refused");
    FaultRequest fault = {index, 0x222000, 0};
    Check(!test::Ioctl(control, VR_FAULT, &fault, sizeof fault, nullptr, 0),
          "fault for an unknown request: refused");
    IndexRequest nobody = {kMaxReaders + 3};
    Check(!test::Ioctl(control, VR_LOG_CLEAR, &nobody, sizeof nobody, nullptr, 0, nullptr,
                       &error) &&
              error == ERROR_DEVICE_NOT_CONNECTED,
          "log clear of an index with no reader: refused as not attached");
}

}  // namespace

int main(int argc, char **argv) {
    test::PlainOutput();
    uint32_t index = argc > 1 ? static_cast<uint32_t>(atoi(argv[1])) : 5;
    HANDLE control = test::OpenControl();
    if (!Check(control != INVALID_HANDLE_VALUE, "control device open")) return 1;
    test::Detach(control, index);
    if (!Check(test::Attach(control, index, '4'), "attach a reader")) return 1;
    DWORD error = 0;
    Check(!test::Ioctl(control, VR_ATTACH, nullptr, 0, nullptr, 0, nullptr, &error),
          "attach without input: refused");
    Check(!test::Attach(control, index, '3') && GetLastError() == ERROR_ALREADY_EXISTS,
          "attach over an attached reader without replace: refused as existing");

    HANDLE reader = test::OpenReader(static_cast<int>(index));
    if (!Check(reader != INVALID_HANDLE_VALUE, "reader open")) return 1;
    ReaderCases(reader);
    ControlCases(control, index);

    // Still serving: the identity bytes of the attached reader.
    uint8_t header[6], identity[2] = {};
    Header(header, 7870, 2);
    DWORD returned = 0;
    Check(test::Ioctl(reader, kMemoryRead, header, 6, identity, 2, &returned) && returned == 2 &&
              identity[0] == '4',
          "after all refusals the reader still answers: model 4");

    // A handle kept across a detach fails cleanly, and a new reader at the
    // index is reached by a new handle.
    Check(test::Detach(control, index), "detach the reader");
    Check(!test::Ioctl(reader, kMemoryRead, header, 6, identity, 2, &returned),
          "a request on the old handle after detach fails");
    CloseHandle(reader);
    Check(test::OpenReader(static_cast<int>(index)) == INVALID_HANDLE_VALUE,
          "the detached index cannot be opened");
    Check(test::Attach(control, index, '5'), "attach again");
    reader = test::OpenReader(static_cast<int>(index));
    identity[0] = 0;
    Check(reader != INVALID_HANDLE_VALUE &&
              test::Ioctl(reader, kMemoryRead, header, 6, identity, 2, &returned) &&
              identity[0] == '5',
          "a new handle reaches the new reader: model 5");
    CloseHandle(reader);
    test::Detach(control, index);
    CloseHandle(control);
    printf("%s\n", test::failures ? "driver_bad_input: FAILED" : "driver_bad_input: passed");
    return test::failures ? 1 : 0;
}
