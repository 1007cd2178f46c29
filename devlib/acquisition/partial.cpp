// partial.cpp - partial capture: a band of raw lines from a start line
// on, no correction.
#include <stdint.h>

#include "KX7300V20.h"
#include "capture.h"
#include "stream_decoder.h"

namespace kx {

int BandHeight(int startLine, int endLine) {
    return static_cast<int>(static_cast<uint32_t>(endLine) - static_cast<uint32_t>(startLine));
}

int64_t BlockBandBufferSize(int height) {
    return (static_cast<int64_t>(height) + 3) * kBlockFrameSize / kStreamRows;
}

int64_t BlockBandPieces(int height) {
    return (static_cast<int64_t>(height) + 3) * kBlockPieces / kStreamRows;
}

int CaptureBlockBand(Handle device, int register38, int arm, int startLine,
                     int endLine, uint8_t *output) {
    if (device == NoDevice()) return NFP_ERR_NO_DEVICE;
    int r = SendBlockBandPreamble(device, register38, arm != 0, startLine);
    if (r != NFP_OK) return r;
    int height = BandHeight(startLine, endLine);
    int64_t size = BlockBandBufferSize(height);
    // A negative size (heights of -4 or less) or one beyond what a 32-bit
    // caller could ever have meant is no buffer at all, never a wrapped
    // request to the heap.
    if (size < 0 || size > INT32_MAX) {
        System().debugOutput("Memory allocation error !");
        return NFP_ERR_GENERAL;
    }
    int64_t pieces = BlockBandPieces(height);
    // The reads never pass the buffer's end: pieces * 4096 <= size, and
    // row H - 1 ends below (H + 3) * 253952 / 302 as well.
    r = CaptureBlocks(device, static_cast<size_t>(size),
                      pieces > 0 ? static_cast<uint32_t>(pieces) : 0,
                      height > 0 ? height : 0, output);
    return r == 0 ? NFP_OK : r;
}

}  // namespace kx

using namespace kx;

extern "C" int NFP_CALL NFP_CapturePart(HANDLE device, int register38, int arm,
                                        int startLine, int endLine,
                                        unsigned char *output) {
    if (device == NoDevice()) return NFP_ERR_NO_DEVICE;
    // The identity bytes read once, mapped as the model code is; a reader
    // whose identity cannot be read is refused, CurrentModel unchanged.
    const int model = NFP_GetDevType(device);
    if (model == 0) return NFP_ERR_GENERAL;
    SetCurrentModel(model);
    if (model != 3) return CaptureBlockBand(device, register38, arm, startLine, endLine, output);
    int r = SendStreamBandPreamble(device, register38, arm != 0, startLine);
    if (r != NFP_OK) return r;
    // Lines are numbered from the band's start; rows 0..H are stored and a
    // line numbered above H is dropped rather than written past the
    // caller's (H + 1) rows.
    return DecodeLineStream(device, output, StreamVariant::kPartial,
                            BandHeight(startLine, endLine));
}
