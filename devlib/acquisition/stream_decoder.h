// stream_decoder.h - the model-3 line stream: markers, numbered lines and
// nibble pixels, assembled into rows of a Raw image.
//
// Holds: StreamVariant, LineStreamDecoder (the byte loop, driven from any
// memory) and DecodeLineStream (the capture's read loop over the seam).
// Needs the system seam.
//
// The stream, one 4-bit value per byte:
//   sync run            15 15 15 15 (15 ...)
//   first-line marker   sync 0 0 12 7, then line 0's pixels
//   line marker         sync 0 0 11 6 L1 L2 L3 L4, line 4096L1+256L2+16L3+L4
//   pixel               high nibble, low nibble; stored as 255 - value
//   tails               first line: 15 bytes + 1 skipped;
//                       numbered line: 7 pixels decoded and dropped + 1 skipped
// Each line fills columns 0..397 of its row; 398 and 399 are never written.
#ifndef KX_ACQUISITION_STREAM_DECODER_H
#define KX_ACQUISITION_STREAM_DECODER_H

#include <stddef.h>
#include <stdint.h>

#include "../seam/system.h"

namespace kx {

enum class StreamVariant : uint8_t {
    // NFP_Capture: bytes compared and added whole; 15 is the byte 0x0F.
    kWholeByte,
    // Protected capture: every byte reduced to its low four bits first.
    kLowNibble,
    // Partial capture: low four bits, and the read buffer zeroed before
    // every read.
    kPartial,
};

constexpr uint32_t kStreamReadSize = 4096;
// Reads decoded before a capture that has not found its last line gives up.
constexpr int kStreamReadLimit = 151;
constexpr int kStreamLineWidth = 398;   // stored pixels per line
constexpr int kStreamRows = 302;        // line numbers 0..301

class LineStreamDecoder {
  public:
    enum Status {
        kMore,      // every byte taken; feed the next buffer
        kComplete,  // the last line has ended
        kBadLine,   // a line numbered 302 or more reached its first pixel
    };

    // image: rows of 400 bytes. The capture ends when numbered line
    // lastLine ends. Rows 0..min(lastLine, 301) are stored; a line
    // numbered above lastLine is decoded and dropped, since a band's
    // caller sized its buffer for rows 0..lastLine only (for a negative
    // lastLine nothing is stored).
    LineStreamDecoder(StreamVariant variant, int lastLine, uint8_t *image);

    // Decodes size bytes; state carries over from call to call. After
    // kComplete or kBadLine the decoder must not be fed again.
    Status Decode(const uint8_t *bytes, size_t size);

  private:
    template <bool kMask>
    Status Run(const uint8_t *p, const uint8_t *end);

    uint8_t *image_;
    int lastLine_;
    int storedRows_;    // rows 0..storedRows_-1 may be written
    bool mask_;
    bool numbered_;     // false while the first-line marker is looked for
    bool inLine_;
    bool highDue_;
    uint8_t marker_;    // 0..11
    uint8_t pixel_;     // accumulator
    int line_;
    int position_;
};

// The capture's read loop, entered after TransferStart has succeeded:
// reads of 4096 bytes, each decoded in full whatever count it reported,
// at most 151 decoded. Sends CaptureClose on every path. Answers 1 when
// the last line ended, -202 otherwise.
int DecodeLineStream(Handle device, uint8_t *image, StreamVariant variant,
                     int lastLine);

}  // namespace kx

#endif
