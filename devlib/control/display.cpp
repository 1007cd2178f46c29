// display.cpp - drawing a grey image of the library on a device context.
#include <stdint.h>
#include <string.h>

#include "KX7300V20.h"
#include "../seam/system.h"

using kx::System;

namespace {

// A device-independent bitmap header followed by its colour table, laid
// out byte for byte as the system reads it.
struct GreyBitmapInfo {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
    struct {
        uint8_t blue, green, red, reserved;
    } colours[256];
};
static_assert(sizeof(GreyBitmapInfo) == 40 + 256 * 4, "header and table, no gaps");

constexpr int kColorOnColor = 3;   // drop rows and columns, never blend
constexpr uint32_t kRgb = 0;       // uncompressed

// Rows of a device-independent bitmap start on 4-byte boundaries.
inline uint64_t RowStride(int width) { return (static_cast<uint64_t>(width) + 3) & ~3ull; }

}  // namespace

extern "C" int NFP_CALL NFP_DrawImage(HDC hdc, int xDest, int yDest,
                                      int destWidth, int destHeight,
                                      const unsigned char *image, int srcWidth,
                                      int srcHeight) {
    GreyBitmapInfo info;
    memset(&info, 0, sizeof info);
    info.biSize = 40;
    info.biWidth = srcWidth;
    info.biHeight = -srcHeight;  // negative: the top row comes first
    info.biPlanes = 1;
    info.biBitCount = 8;
    info.biCompression = kRgb;
    info.biSizeImage = static_cast<uint32_t>(srcWidth) * static_cast<uint32_t>(srcHeight);
    info.biClrUsed = 256;
    for (int i = 0; i < 256; ++i) {
        uint8_t grey = static_cast<uint8_t>(i);
        info.colours[i] = {grey, grey, grey, 0};
    }

    System().setStretchMode(hdc, kColorOnColor);
    // An empty or negative source describes no pixels to read.
    if (srcWidth <= 0 || srcHeight <= 0) return NFP_OK;

    const void *bits = image;
    void *padded = nullptr;
    if (srcWidth % 4 != 0) {
        // The system would read whole 4-byte rows, past the end of each
        // caller's row and at last past the buffer: hand it a padded copy.
        uint64_t stride = RowStride(srcWidth);
        uint64_t size = stride * static_cast<uint64_t>(srcHeight);
        if (size > SIZE_MAX || size > UINT32_MAX) return NFP_OK;
        padded = System().allocate(static_cast<size_t>(size));
        if (!padded) return NFP_OK;
        uint8_t *to = static_cast<uint8_t *>(padded);
        const uint8_t *from = image;
        for (int row = 0; row < srcHeight; ++row) {
            memcpy(to, from, static_cast<size_t>(srcWidth));
            memset(to + srcWidth, 0, static_cast<size_t>(stride - srcWidth));
            to += stride;
            from += srcWidth;
        }
        info.biSizeImage = static_cast<uint32_t>(size);
        bits = padded;
    }
    System().stretchDIBits(hdc, xDest, yDest, destWidth, destHeight, 0, 0,
                           srcWidth, srcHeight, bits, &info);
    System().release(padded);
    return NFP_OK;
}
