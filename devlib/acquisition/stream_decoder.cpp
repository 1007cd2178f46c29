// stream_decoder.cpp - one decoder for the three stream variants; the
// variant only decides how a byte becomes a value and how the read
// buffer is prepared.
#include "stream_decoder.h"

#include <string.h>

#include "KX7300V20.h"
#include "../control/requests.h"

namespace kx {

namespace {

constexpr int kFirstLineEnd = 413;     // 398 pixels' worth of bytes + 15 skipped
constexpr int kNumberedLineEnd = 405;  // 398 stored + 7 dropped pixels
constexpr int kRowBytes = 400;

template <bool kMask>
inline uint8_t Value(uint8_t byte) {
    return kMask ? static_cast<uint8_t>(byte & 15) : byte;
}

// The in-line pixel run: the bulk of every frame.
template <bool kMask>
inline void StorePixels(uint8_t *out, const uint8_t *in, size_t pairs) {
    for (size_t j = 0; j < pairs; ++j) {
        uint8_t value = static_cast<uint8_t>((Value<kMask>(in[2 * j]) << 4) +
                                             Value<kMask>(in[2 * j + 1]));
        out[j] = static_cast<uint8_t>(255 - value);
    }
}

}  // namespace

LineStreamDecoder::LineStreamDecoder(StreamVariant variant, int lastLine,
                                     uint8_t *image)
    : image_(image),
      lastLine_(lastLine),
      storedRows_(lastLine < 0 ? 0 : lastLine >= kStreamRows ? kStreamRows : lastLine + 1),
      mask_(variant != StreamVariant::kWholeByte),
      numbered_(false),
      inLine_(false),
      highDue_(true),
      marker_(0),
      pixel_(0),
      line_(0),
      position_(0) {}

LineStreamDecoder::Status LineStreamDecoder::Decode(const uint8_t *bytes, size_t size) {
    return mask_ ? Run<true>(bytes, bytes + size) : Run<false>(bytes, bytes + size);
}

template <bool kMask>
LineStreamDecoder::Status LineStreamDecoder::Run(const uint8_t *p, const uint8_t *end) {
    while (p < end) {
        if (inLine_) {
            if (position_ < kStreamLineWidth) {
                if (line_ >= kStreamRows) return kBadLine;
                uint8_t *row = line_ < storedRows_ ? image_ + kRowBytes * line_ : nullptr;
                if (!highDue_) {
                    pixel_ = static_cast<uint8_t>(pixel_ + Value<kMask>(*p++));
                    if (row) row[position_] = static_cast<uint8_t>(255 - pixel_);
                    ++position_;
                    highDue_ = true;
                    continue;
                }
                size_t pairs = static_cast<size_t>(end - p) / 2;
                size_t left = static_cast<size_t>(kStreamLineWidth - position_);
                if (pairs > left) pairs = left;
                if (row) StorePixels<kMask>(row + position_, p, pairs);
                p += 2 * pairs;
                position_ += static_cast<int>(pairs);
                if (position_ < kStreamLineWidth && p < end) {
                    pixel_ = static_cast<uint8_t>(Value<kMask>(*p++) << 4);
                    highDue_ = false;
                }
                continue;
            }
            if (!numbered_) {
                if (position_ < kFirstLineEnd) {
                    // The first line's tail is skipped uninspected.
                    size_t skip = static_cast<size_t>(end - p);
                    size_t left = static_cast<size_t>(kFirstLineEnd - position_);
                    if (skip > left) skip = left;
                    p += skip;
                    position_ += static_cast<int>(skip);
                    continue;
                }
                ++p;
                inLine_ = false;
                numbered_ = true;
                marker_ = 0;
                continue;
            }
            if (position_ < kNumberedLineEnd) {
                // Tail pixels: decoded like the others, stored nowhere.
                uint8_t v = Value<kMask>(*p++);
                if (highDue_) {
                    pixel_ = static_cast<uint8_t>(v << 4);
                    highDue_ = false;
                } else {
                    pixel_ = static_cast<uint8_t>(pixel_ + v);
                    ++position_;
                    highDue_ = true;
                }
                continue;
            }
            ++p;
            inLine_ = false;
            if (line_ == lastLine_) return kComplete;
            continue;
        }

        uint8_t v = Value<kMask>(*p++);
        switch (marker_) {
            case 0:
            case 1:
            case 2:
            case 3:
                marker_ = v == 15 ? static_cast<uint8_t>(marker_ + 1) : 0;
                break;
            case 4:  // further 15s lengthen the sync run
                marker_ = v == 0 ? 5 : v == 15 ? 4 : 0;
                break;
            case 5:
                marker_ = v == 0 ? 6 : 0;
                break;
            case 6:
                marker_ = v == (numbered_ ? 11 : 12) ? 7 : 0;
                break;
            case 7:
                if (numbered_) {
                    marker_ = v == 6 ? 8 : 0;
                } else if (v == 7) {
                    inLine_ = true;
                    line_ = 0;
                    position_ = 0;
                    highDue_ = true;
                    marker_ = 8;
                } else {
                    marker_ = 0;
                }
                break;
            // The line number, most significant digit first, untested.
            case 8:
                line_ = 4096 * v;
                marker_ = 9;
                break;
            case 9:
                line_ += 256 * v;
                marker_ = 10;
                break;
            case 10:
                line_ += 16 * v;
                marker_ = 11;
                break;
            default:
                line_ += v;
                inLine_ = true;
                position_ = 0;
                highDue_ = true;
                marker_ = 0;
                break;
        }
    }
    return kMore;
}

int DecodeLineStream(Handle device, uint8_t *image, StreamVariant variant,
                     int lastLine) {
    LineStreamDecoder decoder(variant, lastLine, image);
    // Zeros before the first read: a short first read leaves zeros behind
    // in every variant.
    uint8_t buffer[kStreamReadSize] = {};
    int decoded = 0;
    int result = NFP_ERR_NO_IMAGE;
    for (;;) {
        if (variant == StreamVariant::kPartial) memset(buffer, 0, sizeof buffer);
        uint32_t got = 0;
        if (!System().read(device, buffer, kStreamReadSize, &got)) break;
        if (decoded == kStreamReadLimit) break;
        ++decoded;
        // The whole buffer, whatever the read reported: the bytes behind a
        // short read are the previous read's (or zeros) and are decoded too.
        LineStreamDecoder::Status status = decoder.Decode(buffer, sizeof buffer);
        if (status == LineStreamDecoder::kComplete) {
            result = NFP_OK;
            break;
        }
        if (status == LineStreamDecoder::kBadLine) break;
    }
    CaptureClose(device);
    return result;
}

}  // namespace kx
