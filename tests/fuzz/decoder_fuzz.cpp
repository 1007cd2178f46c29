// decoder_fuzz.cpp - the line stream decoder and the block band under
// arbitrary reader data.
//
// Input: byte 0 picks the path (b % 3: the decoder fed from memory, the
// decoder's read loop over a replaying reader, the block band) and the
// stream variant ((b / 3) % 3); bytes 1-2 a little-endian signed last
// line or band height; byte 3 a short-read size in 32-byte steps (0 none).
// The rest is the data: for the decoder fed from memory, pieces of
// [16-bit length][bytes], each copied into a heap block of exactly its
// size so that reading past it is caught; otherwise the reader's bytes.
//
// The output lies between guard bytes in a block of exactly the size the
// caller is documented to provide: rows 0..min(last line, 301) for the
// stream, H rows for the block band. Nothing may land outside it, and the
// stream never writes columns 398 and 399.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <vector>

#include "KX7300V20.h"
#include "acquisition/capture.h"
#include "acquisition/stream_decoder.h"
#include "control/requests.h"
#include "model/reader.h"
#include "seam/host_system.h"

namespace {

constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xC5;

struct Output {
    explicit Output(size_t rows) : rows(rows), block(new uint8_t[2 * kGuard + rows * 400]) {
        memset(block.get(), kGuardByte, 2 * kGuard + rows * 400);
    }
    uint8_t *Image() { return block.get() + kGuard; }
    void Check(bool streamColumns) const {
        const uint8_t *b = block.get();
        for (size_t i = 0; i < kGuard; ++i)
            if (b[i] != kGuardByte || b[kGuard + rows * 400 + i] != kGuardByte) abort();
        if (streamColumns)
            for (size_t r = 0; r < rows; ++r)
                if (b[kGuard + 400 * r + 398] != kGuardByte || b[kGuard + 400 * r + 399] != kGuardByte)
                    abort();
    }
    size_t rows;
    std::unique_ptr<uint8_t[]> block;
};

size_t StreamRows(int lastLine) {
    return lastLine < 0 ? 0 : lastLine > 301 ? 302 : static_cast<size_t>(lastLine) + 1;
}

vreader::Reader *Replaying(char model, const uint8_t *data, size_t size, uint32_t shortRead) {
    static vreader::Reader *reader = new vreader::Reader;  // 300 KB: kept, not rebuilt
    vreader::Description d;
    vreader::DefaultDescription(&d);
    d.identity[0] = static_cast<uint8_t>(model);
    d.shortRead = shortRead;
    reader->Init(d);
    reader->SetReplay(data, static_cast<uint32_t>(size));
    kx::host::Reset();
    kx::host::Attach(0, reader);
    return reader;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) return 0;
    const int path = data[0] % 3;
    const kx::StreamVariant variant = static_cast<kx::StreamVariant>((data[0] / 3) % 3);
    const int line = static_cast<int16_t>(data[1] | (data[2] << 8));
    const uint32_t shortRead = 32u * data[3];
    data += 4;
    size -= 4;

    if (path == 0) {
        Output out(StreamRows(line));
        kx::LineStreamDecoder decoder(variant, line, out.Image());
        while (size >= 2) {
            size_t n = data[0] | (data[1] << 8);
            data += 2;
            size -= 2;
            if (n > size) n = size;
            std::unique_ptr<uint8_t[]> piece(new uint8_t[n ? n : 1]);
            memcpy(piece.get(), data, n);
            data += n;
            size -= n;
            if (decoder.Decode(piece.get(), n) != kx::LineStreamDecoder::kMore) break;
        }
        out.Check(true);
        return 0;
    }

    // The reader's bytes in a block of their own size.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size ? size : 1]);
    memcpy(bytes.get(), data, size);
    if (path == 1) {
        Output out(StreamRows(line));
        Replaying('3', bytes.get(), size, shortRead);
        HANDLE device = NFP_Open(0);
        kx::TransferStart(device);
        int r = kx::DecodeLineStream(device, out.Image(), variant, line);
        if (r != NFP_OK && r != NFP_ERR_NO_IMAGE) abort();
        NFP_Close(device);
        out.Check(true);
    } else {
        // Band heights around the interesting range; tall ones cost time
        // without reaching new code.
        const int height = line % 420;
        Output out(height > 0 ? static_cast<size_t>(height) : 0);
        Replaying('4', bytes.get(), size, shortRead);
        HANDLE device = NFP_Open(0);
        int r = NFP_CapturePart(device, 0, 1, 0, height, out.Image());
        if (r != NFP_OK && r != NFP_ERR_GENERAL) abort();
        NFP_Close(device);
        out.Check(false);
        if (kx::host::LiveBlocks() != 0) abort();
    }
    return 0;
}
