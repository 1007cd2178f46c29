// image_encode.h - grey images into BMP and PNG files, header only.
//
// Holds: EncodeBmp (8-bit grey, bottom-up rows padded to 4 bytes, a
// 256-entry grey palette) and EncodePng (8-bit grey, one filter-0 scanline
// per row, zlib stored blocks: no compressor needed). Needs only the C++
// standard library, so that Windows test programs can write images with the
// same code as the native tools.
#ifndef VREADER_MODEL_IMAGE_ENCODE_H
#define VREADER_MODEL_IMAGE_ENCODE_H

#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <vector>

namespace vreader {

namespace encode {

inline void PutLe16(std::vector<uint8_t> *out, uint32_t v) {
    out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(v >> 8));
}
inline void PutLe32(std::vector<uint8_t> *out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void PutBe32(std::vector<uint8_t> *out, uint32_t v) {
    for (int i = 3; i >= 0; --i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline uint32_t Crc32(const uint8_t *data, size_t size) {
    uint32_t table[256];
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

inline void PutChunk(std::vector<uint8_t> *png, const char type[4], const std::vector<uint8_t> &body) {
    PutBe32(png, static_cast<uint32_t>(body.size()));
    const size_t start = png->size();
    png->insert(png->end(), type, type + 4);
    png->insert(png->end(), body.begin(), body.end());
    PutBe32(png, Crc32(png->data() + start, png->size() - start));
}

}  // namespace encode

inline std::vector<uint8_t> EncodeBmp(const uint8_t *grey, int width, int height) {
    using namespace encode;
    const uint32_t stride = (static_cast<uint32_t>(width) + 3) & ~3u;
    const uint32_t offset = 14 + 40 + 1024, pixels = stride * static_cast<uint32_t>(height);
    std::vector<uint8_t> bmp;
    bmp.reserve(offset + pixels);
    bmp.push_back('B');
    bmp.push_back('M');
    PutLe32(&bmp, offset + pixels);
    PutLe32(&bmp, 0);
    PutLe32(&bmp, offset);
    PutLe32(&bmp, 40);
    PutLe32(&bmp, static_cast<uint32_t>(width));
    PutLe32(&bmp, static_cast<uint32_t>(height));  // positive: bottom-up
    PutLe16(&bmp, 1);
    PutLe16(&bmp, 8);
    PutLe32(&bmp, 0);  // no compression
    PutLe32(&bmp, pixels);
    PutLe32(&bmp, 2835);  // 72 dpi
    PutLe32(&bmp, 2835);
    PutLe32(&bmp, 256);
    PutLe32(&bmp, 256);
    for (uint32_t i = 0; i < 256; ++i) {
        bmp.push_back(static_cast<uint8_t>(i));
        bmp.push_back(static_cast<uint8_t>(i));
        bmp.push_back(static_cast<uint8_t>(i));
        bmp.push_back(0);
    }
    for (int y = height - 1; y >= 0; --y) {
        const uint8_t *row = grey + static_cast<size_t>(width) * y;
        bmp.insert(bmp.end(), row, row + width);
        bmp.insert(bmp.end(), stride - static_cast<uint32_t>(width), 0);
    }
    return bmp;
}

inline std::vector<uint8_t> EncodePng(const uint8_t *grey, int width, int height) {
    using namespace encode;
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBe32(&header, static_cast<uint32_t>(width));
    PutBe32(&header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 0, 0, 0, 0});  // 8-bit grey, deflate, filter 0, no interlace
    PutChunk(&png, "IHDR", header);

    std::vector<uint8_t> scanlines;
    scanlines.reserve((static_cast<size_t>(width) + 1) * height);
    for (int y = 0; y < height; ++y) {
        scanlines.push_back(0);  // filter: none
        const uint8_t *row = grey + static_cast<size_t>(width) * y;
        scanlines.insert(scanlines.end(), row, row + width);
    }
    // A zlib stream of stored deflate blocks, then the Adler-32 of the data.
    std::vector<uint8_t> z = {0x78, 0x01};
    size_t at = 0;
    do {
        const size_t n = std::min<size_t>(65535, scanlines.size() - at);
        z.push_back(at + n == scanlines.size() ? 1 : 0);
        PutLe16(&z, static_cast<uint32_t>(n));
        PutLe16(&z, static_cast<uint32_t>(~n & 0xFFFF));
        z.insert(z.end(), scanlines.begin() + at, scanlines.begin() + at + n);
        at += n;
    } while (at < scanlines.size());
    uint32_t a = 1, b = 0;
    for (uint8_t byte : scanlines) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBe32(&z, (b << 16) | a);
    PutChunk(&png, "IDAT", z);
    PutChunk(&png, "IEND", {});
    return png;
}

}  // namespace vreader

#endif
