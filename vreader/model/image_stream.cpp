// image_stream.cpp - the image data a reader sends after TransferStart.
//
// A model-3 reader sends its line stream: a first-line marker with the
// first line, then numbered lines, each pixel as two nibble bytes of the
// complement 255 - pixel (the library stores 255 - what arrives, so the
// raw image equals the picture). Columns 398 and 399 travel in the tail
// pixels. When a frame's last line is out, the next frame follows, for as
// long as the library reads.
//
// A model-4 or 5 reader sends the block layout: a 142-byte header, then
// per row 400 pixel pairs (the complement, then an unused byte) and 32
// bytes of gap, 832 bytes a row. Rows beyond the picture come blank.
//
// Bands: registers 16 and 17, written since CaptureOpen, give the start.
// A model-3 reader starts its frame at image row 256 r16 + r17 and numbers
// lines from 0 there; the sensor ends at row 301, so a band frame's last
// line is 301 - start. A block reader counts sensor lines 6 ahead of image
// rows (its library adds 6 to register 17), so it starts at row
// 256 r16 + r17 - 6; where the library's +6 carried past 255 without
// reaching register 16, the band comes 256 rows higher, as it would from
// a real reader. Neither knows where the band ends: they send from the
// start on.
//
// Stream options change only the model-3 stream. Replay bytes replace any
// generated data; once they are used up, reads succeed with nothing.
// No heap, no floating point: this runs in the kernel-mode driver too.
#include <string.h>

#include "description.h"
#include "reader.h"

namespace vreader {

namespace {

constexpr uint32_t kBlockHeader = 142;
constexpr uint32_t kBlockPitch = 832;
constexpr uint32_t kBlockRowBytes = 800;
constexpr int kLineWidth = 398;

uint32_t NextRandom(uint32_t *state) {
    uint32_t x = *state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    *state = x;
    return x;
}

// True about once in every n calls.
bool OneIn(uint32_t *state, uint32_t n) { return NextRandom(state) % n == 0; }

void PutNibbles(uint8_t *out, uint32_t *n, uint8_t value) {
    out[(*n)++] = static_cast<uint8_t>(value >> 4);
    out[(*n)++] = static_cast<uint8_t>(value & 15);
}

}  // namespace

void Reader::OpenCapture() { stream_.bandRequested = false; }

void Reader::NoteRegister(uint8_t number) {
    if (number == 16 || number == 17) stream_.bandRequested = true;
}

void Reader::StartTransfer() {
    transferring_ = true;
    streamPosition_ = 0;
    ImageStreamState &s = stream_;
    s.block = description_.identity[0] == '4' || description_.identity[0] == '5';
    int32_t start = s.bandRequested ? 256 * registers_[16] + registers_[17] : 0;
    if (s.block && s.bandRequested) start -= 6;
    s.firstRow = start;
    s.lastLine = static_cast<int32_t>(kImageHeight) - 1 - start;
    // Every transfer of a reader varies alike, so a capture can be repeated.
    s.random = (description_.seed * 2654435761u) ^ 0x6D2B79F5u;
    if (s.random == 0) s.random = 1;
    s.orderCount = 0;
    s.orderNext = 0;
    s.chunkSize = 0;
    s.chunkSent = 0;
}

// The lines of the next frame, in the order they go out: the first line
// always first, the last line always last.
static void PlanFrame(ImageStreamState *s, uint32_t options) {
    s->orderCount = 0;
    s->orderNext = 0;
    if (s->lastLine < 0) return;
    s->order[s->orderCount++] = 0;
    uint32_t middle = s->orderCount;
    uint32_t repeats = 0;  // room for them: kStreamMaxLines - 302
    for (int32_t line = 1; line < s->lastLine; ++line) {
        if ((options & kStreamMissing) && OneIn(&s->random, 12)) continue;
        s->order[s->orderCount++] = static_cast<uint16_t>(line);
        if ((options & kStreamRepeat) && repeats < kStreamMaxLines - kImageHeight &&
            OneIn(&s->random, 8)) {
            ++repeats;
            // Again, either at once or a line sent a while ago.
            uint32_t earlier = middle + NextRandom(&s->random) % (s->orderCount - middle);
            s->order[s->orderCount] = s->order[earlier];
            ++s->orderCount;
        }
    }
    if (options & kStreamShuffle) {
        for (uint32_t i = s->orderCount - 1; i > middle; --i) {
            uint32_t j = middle + NextRandom(&s->random) % (i - middle + 1);
            uint16_t t = s->order[i];
            s->order[i] = s->order[j];
            s->order[j] = t;
        }
    }
    if (s->lastLine >= 1) s->order[s->orderCount++] = static_cast<uint16_t>(s->lastLine);
}

void Reader::RenderLine() {
    ImageStreamState &s = stream_;
    const uint32_t options = description_.streamOptions;
    if (s.orderNext == s.orderCount) PlanFrame(&s, options);
    s.chunkSent = 0;
    uint32_t n = 0;
    uint8_t *out = s.chunk;
    if (s.orderCount == 0) {
        // A band that starts below the sensor: nothing but idle bytes.
        memset(out, 0, 64);
        s.chunkSize = 64;
        return;
    }
    const bool first = s.orderNext == 0;
    const uint16_t line = s.order[s.orderNext++];
    if (options & kStreamJunk) {
        // Never two 15s in a row, so junk cannot pass for a sync run.
        uint32_t count = 1 + NextRandom(&s.random) % 16;
        bool fifteen = false;
        for (uint32_t i = 0; i < count; ++i) {
            uint8_t b = static_cast<uint8_t>(NextRandom(&s.random) >> 8);
            if ((b & 15) == 15 && fifteen) b ^= 1;
            fifteen = (b & 15) == 15;
            out[n++] = b;
        }
    }
    uint32_t sync = 4 + ((options & kStreamLongSync) ? 1 + NextRandom(&s.random) % 12 : 0);
    for (uint32_t i = 0; i < sync; ++i) out[n++] = 15;
    out[n++] = 0;
    out[n++] = 0;
    if (first) {
        out[n++] = 12;
        out[n++] = 7;
    } else {
        out[n++] = 11;
        out[n++] = 6;
        out[n++] = static_cast<uint8_t>((line >> 12) & 15);
        out[n++] = static_cast<uint8_t>((line >> 8) & 15);
        out[n++] = static_cast<uint8_t>((line >> 4) & 15);
        out[n++] = static_cast<uint8_t>(line & 15);
    }
    const uint8_t *row = image_ + kImageWidth * static_cast<uint32_t>(s.firstRow + line);
    for (int c = 0; c < kLineWidth; ++c) PutNibbles(out, &n, static_cast<uint8_t>(255 - row[c]));
    // Tail: the two columns the library does not keep, then filler.
    PutNibbles(out, &n, static_cast<uint8_t>(255 - row[398]));
    PutNibbles(out, &n, static_cast<uint8_t>(255 - row[399]));
    uint32_t filler = first ? 15 + 1 - 4 : 14 + 1 - 4;
    memset(out + n, 0, filler);
    n += filler;
    if (options & kStreamUpperBits)
        for (uint32_t i = 0; i < n; ++i) out[i] |= 0xF0;
    s.chunkSize = n;
}

uint32_t Reader::Produce(uint8_t *buffer, uint32_t size) {
    ImageStreamState &s = stream_;
    if (replay_) {
        // The recording as it was; once it is used up, reads deliver nothing.
        uint32_t copied = 0;
        if (streamPosition_ < replaySize_) {
            copied = replaySize_ - streamPosition_;
            if (copied > size) copied = size;
            memcpy(buffer, replay_ + streamPosition_, copied);
        }
        streamPosition_ += copied;
        return copied;
    }
    if (s.block) {
        for (uint32_t i = 0; i < size; ++i) {
            uint32_t p = streamPosition_ + i;
            uint8_t b;
            if (p < kBlockHeader) {
                b = static_cast<uint8_t>(p * 37 + 11);
            } else {
                uint32_t q = p - kBlockHeader, offset = q % kBlockPitch;
                int32_t imageRow = s.firstRow + static_cast<int32_t>(q / kBlockPitch);
                if (offset >= kBlockRowBytes) {
                    b = static_cast<uint8_t>(0xC3 ^ offset);
                } else {
                    bool inside = imageRow >= 0 && imageRow < static_cast<int32_t>(kImageHeight);
                    uint8_t pixel = inside ? image_[kImageWidth * imageRow + offset / 2] : 255;
                    b = static_cast<uint8_t>(255 - pixel);
                    // The unused companion byte differs, so a mapping that
                    // takes it shows.
                    if (offset & 1) b ^= 0x5A;
                }
            }
            buffer[i] = b;
        }
    } else {
        uint32_t done = 0;
        while (done < size) {
            if (s.chunkSent == s.chunkSize) RenderLine();
            uint32_t take = s.chunkSize - s.chunkSent;
            if (take > size - done) take = size - done;
            memcpy(buffer + done, s.chunk + s.chunkSent, take);
            s.chunkSent += take;
            done += take;
        }
    }
    streamPosition_ += size;
    return size;
}

}  // namespace vreader
