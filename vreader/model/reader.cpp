// reader.cpp - the virtual reader's answers to the fourteen control requests.
#include "reader.h"

#include <string.h>

namespace vreader {

using namespace kx;

namespace {

struct Name {
    uint32_t code;
    const char *name;
};

const Name kNames[] = {
    {kReadCode, "READ"},
    {REQ_WRITE_REGISTER, "REQ_WRITE_REGISTER"},
    {REQ_CAPTURE_OPEN, "REQ_CAPTURE_OPEN"},
    {REQ_TRANSFER_START, "REQ_TRANSFER_START"},
    {REQ_CAPTURE_ARM, "REQ_CAPTURE_ARM"},
    {REQ_CAPTURE_CLOSE, "REQ_CAPTURE_CLOSE"},
    {REQ_MEMORY_WRITE, "REQ_MEMORY_WRITE"},
    {REQ_MEMORY_READ, "REQ_MEMORY_READ"},
    {REQ_SCARD_WRITE, "REQ_SCARD_WRITE"},
    {REQ_SCARD_READ, "REQ_SCARD_READ"},
    {REQ_BUTTON_READ, "REQ_BUTTON_READ"},
    {REQ_BUTTON_STOP, "REQ_BUTTON_STOP"},
    {REQ_BUTTON_EVENT, "REQ_BUTTON_EVENT"},
    {REQ_LED_ON, "REQ_LED_ON"},
    {REQ_LED_OFF, "REQ_LED_OFF"},
};

}  // namespace

const char *RequestName(uint32_t code) {
    for (const Name &n : kNames)
        if (n.code == code) return n.name;
    return nullptr;
}

uint32_t RequestCode(const char *name) {
    for (const Name &n : kNames)
        if (n.code != kReadCode && strcmp(n.name, name) == 0) return n.code;
    return 0;
}

void DefaultDescription(Description *d) {
    memset(d, 0, sizeof *d);
    d->identity[0] = '3';
}

void Reader::Init(const Description &description) {
    memset(static_cast<void *>(this), 0, sizeof *this);
    description_ = description;
    memcpy(memory_ + kIdentityAddress, description.identity, 2);
    memcpy(memory_ + kUserDataAddress, description.userdata, 32);
    memcpy(memory_ + kSerialAddress, description.serial, 32);
    buttonStatus_ = description.buttonStatus;
}

bool Reader::AddFault(uint32_t code, uint32_t nth) {
    for (uint32_t i = 0; i < description_.faultCount; ++i) {
        Fault &f = description_.faults[i];
        if (f.code == code) {
            f.nth = nth;
            f.seen = 0;
            return true;
        }
    }
    if (description_.faultCount == kMaxFaults) return false;
    description_.faults[description_.faultCount++] = Fault{code, nth, 0};
    return true;
}

void Reader::ClearFaults() { description_.faultCount = 0; }

bool Reader::Injected(uint32_t code) {
    for (uint32_t i = 0; i < description_.faultCount; ++i) {
        Fault &f = description_.faults[i];
        if (f.code != code) continue;
        ++f.seen;
        return f.nth == 0 || f.seen == f.nth;
    }
    return false;
}

const LogEntry &Reader::LogAt(uint32_t i) const {
    uint32_t first = logCount_ < kLogCapacity ? 0 : logCount_ % kLogCapacity;
    return log_[(first + i) % kLogCapacity];
}

LogEntry &Reader::Log(uint32_t code, const uint8_t *input, uint32_t inputSize,
                      uint32_t outputSize, bool ok, uint32_t returned) {
    LogEntry &e = log_[logCount_ % kLogCapacity];
    ++logCount_;
    e.code = code;
    e.inputSize = inputSize;
    uint32_t kept = inputSize < kLogInputBytes ? inputSize : kLogInputBytes;
    if (input && kept) memcpy(e.input, input, kept);
    memset(e.input + kept, 0, kLogInputBytes - kept);
    e.outputSize = outputSize;
    e.returned = returned;
    e.ok = ok ? 1 : 0;
    return e;
}

bool Reader::Control(uint32_t code, const uint8_t *input, uint32_t inputSize,
                     uint8_t *output, uint32_t outputSize, uint32_t *returned) {
    *returned = 0;
    // Buffered I/O gives a driver one buffer for input and output: keep the
    // input in the log before the answer overwrites it.
    LogEntry &entry = Log(code, input, inputSize, outputSize, false, 0);
    bool ok = !Injected(code) &&
              Answer(code, input, inputSize, output, outputSize, returned);
    if (!ok) *returned = 0;
    entry.ok = ok ? 1 : 0;
    entry.returned = *returned;
    return ok;
}

bool Reader::Answer(uint32_t code, const uint8_t *in, uint32_t inSize,
                    uint8_t *out, uint32_t outSize, uint32_t *returned) {
    switch (code) {
        case REQ_WRITE_REGISTER:
            if (inSize < 2) return false;
            registers_[in[0]] = in[1];
            NoteRegister(in[0]);
            return true;
        case REQ_CAPTURE_OPEN:
            OpenCapture();
            return true;
        case REQ_CAPTURE_ARM:
            return true;
        case REQ_TRANSFER_START:
            StartTransfer();
            return true;
        case REQ_CAPTURE_CLOSE:
            transferring_ = false;
            return true;
        case REQ_MEMORY_READ:
        case REQ_MEMORY_WRITE:
        case REQ_SCARD_READ:
        case REQ_SCARD_WRITE: {
            if (inSize < kRangeHeaderSize) return false;
            uint16_t address = GetWord(in), auxiliary = GetWord(in + 2),
                     length = GetWord(in + 4);
            bool write = code == REQ_MEMORY_WRITE || code == REQ_SCARD_WRITE;
            if (write ? inSize < kRangeHeaderSize + length : outSize < length)
                return false;
            if (code == REQ_MEMORY_READ || code == REQ_MEMORY_WRITE) {
                if (static_cast<uint32_t>(address) + length > kMemorySize)
                    return false;
                if (length == 0) {
                    // an empty range touches nothing; out may be null
                } else if (write) {
                    memcpy(memory_ + address, in + kRangeHeaderSize, length);
                } else {
                    memcpy(out, memory_ + address, length);
                }
            } else {
                // The card store wraps at its 16-bit address space.
                scardAddress_ = address;
                scardAuxiliary_ = auxiliary;
                for (uint32_t i = 0; i < length; ++i) {
                    uint8_t &cell = scard_[(address + i) % kScardSize];
                    if (write)
                        cell = in[kRangeHeaderSize + i];
                    else
                        out[i] = cell;
                }
            }
            if (!write) *returned = length;
            if (!write && description_.shortRead && *returned > description_.shortRead)
                *returned = description_.shortRead;
            return true;
        }
        case REQ_BUTTON_READ:
            if (outSize < 4) return false;
            PutLong(out, buttonStatus_);
            *returned = 4;
            return true;
        case REQ_BUTTON_EVENT:
            if (inSize < 4) return false;
            buttonEvent_ = GetLong(in);
            buttonRegistered_ = true;
            return true;
        case REQ_BUTTON_STOP:
            // The library relies on this waking its monitor. The monitor then
            // leaves, so the registration ends: a later press must not leave
            // the event signalled for the next monitor to find.
            if (buttonRegistered_ && signal_) signal_(signalContext_, buttonEvent_);
            buttonRegistered_ = false;
            return true;
        case REQ_LED_ON:
            led_ = true;
            return true;
        case REQ_LED_OFF:
            led_ = false;
            return true;
        default:
            return false;
    }
}

void Reader::Press(uint32_t status) {
    buttonStatus_ = status;
    if (buttonRegistered_ && signal_) signal_(signalContext_, buttonEvent_);
}

bool Reader::Read(uint8_t *buffer, uint32_t size, uint32_t *got) {
    *got = 0;
    bool ok = !Injected(kReadCode) && transferring_;
    if (ok) {
        uint32_t want = size;
        if (description_.shortRead && want > description_.shortRead)
            want = description_.shortRead;
        *got = Produce(buffer, want);
    }
    Log(kReadCode, nullptr, 0, size, ok, *got);
    return ok;
}

}  // namespace vreader
