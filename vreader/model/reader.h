// reader.h - the virtual reader: one portable model of a TELVA reader.
//
// Holds: Description (what a reader description file sets), LogEntry,
// Reader. Needs driver_interface.h of the library for the request codes.
//
// Freestanding on purpose: no exceptions, no RTTI, no heap, fixed-size
// state, so that the same source serves in-process tests and the
// kernel-mode driver. A Reader is a plain object; call Init before use.
#ifndef VREADER_MODEL_READER_H
#define VREADER_MODEL_READER_H

#include <stddef.h>
#include <stdint.h>

#include "../../devlib/control/driver_interface.h"

namespace vreader {

// Log code of an ordinary read; control requests log their own code.
constexpr uint32_t kReadCode = 0;

constexpr uint32_t kMemorySize = 8192;      // parameter addresses 0..8191
constexpr uint32_t kScardSize = 65536;      // smart-card store, 16-bit addresses
constexpr uint32_t kLogCapacity = 1024;     // newest entries are kept
constexpr uint32_t kLogInputBytes = 48;     // input bytes kept per entry
constexpr uint32_t kMaxFaults = 16;
constexpr uint32_t kPathSize = 260;
constexpr uint32_t kImageWidth = 400;
constexpr uint32_t kImageHeight = 302;
constexpr uint32_t kImageSize = kImageWidth * kImageHeight;

// A request that fails always (nth == 0) or only at its nth occurrence.
struct Fault {
    uint32_t code;
    uint32_t nth;
    uint32_t seen;
};

struct Description {
    uint8_t identity[2];        // model character, second identity byte
    uint8_t serial[32];
    uint8_t userdata[32];
    char image[kPathSize];      // grey image file, or "synthetic:SEED"; "" none
    char replay[kPathSize];     // file of exact bytes for the image reads
    Fault faults[kMaxFaults];
    uint32_t faultCount;
    uint32_t shortRead;         // 0: reads deliver what is asked; else at most this
    uint32_t buttonStatus;      // status word REQ_BUTTON_READ answers
    uint32_t streamOptions;     // image stream variations (StreamOption bits)
    uint32_t seed;              // randomness of the stream variations
};

void DefaultDescription(Description *description);

struct LogEntry {
    uint32_t code;              // request code, or kReadCode
    uint32_t inputSize;
    uint8_t input[kLogInputBytes];
    uint32_t outputSize;
    uint32_t returned;          // bytes returned (reads: bytes delivered)
    uint8_t ok;                 // 1 answered with success
};

// The driver side's way to wake a registered button event.
using SignalFunction = void (*)(void *context, uint32_t eventValue);

// What a reader is sending in its current transfer (image_stream.cpp).
constexpr uint32_t kStreamMaxLines = 302 + 64;  // a frame's lines, repeats included
constexpr uint32_t kStreamChunk = 1024;         // one line with its marker and junk
struct ImageStreamState {
    bool bandRequested;       // register 16 or 17 written since CaptureOpen
    bool block;               // the 62-piece block layout (models 4, 5)
    int32_t firstRow;         // image row of the transfer's first line
    int32_t lastLine;         // model 3: last line number of a frame
    uint32_t random;          // generator of the stream variations
    uint16_t order[kStreamMaxLines];  // model 3: lines of the frame in sending order
    uint32_t orderCount;
    uint32_t orderNext;
    uint8_t chunk[kStreamChunk];      // model 3: bytes of the line being sent
    uint32_t chunkSize;
    uint32_t chunkSent;
};

class Reader {
  public:
    void Init(const Description &description);

    // One control request from the library. Checks every size before it
    // touches a buffer; an unknown code or short buffer fails.
    bool Control(uint32_t code, const uint8_t *input, uint32_t inputSize,
                 uint8_t *output, uint32_t outputSize, uint32_t *returned);

    // One ordinary read: image data once a transfer has started.
    bool Read(uint8_t *buffer, uint32_t size, uint32_t *got);

    // --- the control side: tests, the vreader tool, the driver ---
    bool AddFault(uint32_t code, uint32_t nth);
    void ClearFaults();
    void SetShortRead(uint32_t bytes) { description_.shortRead = bytes; }

    uint32_t LogCount() const { return logCount_ < kLogCapacity ? logCount_ : kLogCapacity; }
    uint32_t LogDropped() const { return logCount_ < kLogCapacity ? 0 : logCount_ - kLogCapacity; }
    // i-th kept entry, oldest first.
    const LogEntry &LogAt(uint32_t i) const;
    void ClearLog() { logCount_ = 0; }

    // Sets the status word and wakes the registered button event, if any.
    void Press(uint32_t status);
    void SetSignal(SignalFunction function, void *context) {
        signal_ = function;
        signalContext_ = context;
    }

    bool Led() const { return led_; }
    uint8_t Register(uint8_t number) const { return registers_[number]; }
    const uint8_t *Memory() const { return memory_; }
    const uint8_t *Scard() const { return scard_; }
    uint16_t ScardAddress() const { return scardAddress_; }
    uint16_t ScardAuxiliary() const { return scardAuxiliary_; }
    bool ButtonRegistered() const { return buttonRegistered_; }
    uint32_t ButtonEvent() const { return buttonEvent_; }
    uint32_t ButtonStatus() const { return buttonStatus_; }
    const Description &Settings() const { return description_; }

    // Image the reader shows, 400 x 302 grey bytes as a person sees them.
    uint8_t *Image() { return image_; }
    const uint8_t *Image() const { return image_; }
    // Exact bytes for the image reads instead of the generated stream.
    // The bytes stay the caller's and must outlive the reader.
    void SetReplay(const uint8_t *bytes, uint32_t size) {
        replay_ = bytes;
        replaySize_ = size;
    }

  private:
    bool Answer(uint32_t code, const uint8_t *input, uint32_t inputSize,
                uint8_t *output, uint32_t outputSize, uint32_t *returned);
    bool Injected(uint32_t code);
    LogEntry &Log(uint32_t code, const uint8_t *input, uint32_t inputSize,
                  uint32_t outputSize, bool ok, uint32_t returned);
    void StartTransfer();
    uint32_t Produce(uint8_t *buffer, uint32_t size);
    void OpenCapture();
    void NoteRegister(uint8_t number);
    void RenderLine();

    Description description_;
    uint8_t memory_[kMemorySize];
    uint8_t scard_[kScardSize];
    uint8_t registers_[256];
    uint8_t image_[kImageSize];
    LogEntry log_[kLogCapacity];
    uint32_t logCount_;
    bool led_;
    bool transferring_;
    uint32_t streamPosition_;   // bytes of the current transfer produced so far
    uint16_t scardAddress_;
    uint16_t scardAuxiliary_;
    bool buttonRegistered_;
    uint32_t buttonEvent_;
    uint32_t buttonStatus_;
    SignalFunction signal_;
    void *signalContext_;
    const uint8_t *replay_;
    uint32_t replaySize_;
    ImageStreamState stream_;
};

// Name of a request for logs and the vreader tool ("REQ_MEMORY_READ",
// "READ"); nullptr for an unknown code.
const char *RequestName(uint32_t code);
// The code of a name, or 0 when the name is unknown.
uint32_t RequestCode(const char *name);

}  // namespace vreader

#endif
