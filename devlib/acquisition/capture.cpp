// capture.cpp - raw frame capture: NFP_Capture, the capture preambles,
// the block capture of models 4 and 5, and CurrentModel.
#include "capture.h"

#include <emmintrin.h>
#include <string.h>

#include <atomic>

#include "KX7300V20.h"
#include "../control/requests.h"
#include "cipher.h"
#include "stream_decoder.h"

namespace kx {

namespace {

// Shared by every thread and handle without a lock; atomic only so that
// "last writer wins" is all that can happen.
std::atomic<int> currentModel{0};

enum class Op : uint8_t { kOpen, kArm, kWrite, kStart };

struct Step {
    Op op;
    uint8_t reg;
    uint8_t value;
};

constexpr Step Open() { return {Op::kOpen, 0, 0}; }
constexpr Step Arm() { return {Op::kArm, 0, 0}; }
constexpr Step Start() { return {Op::kStart, 0, 0}; }
constexpr Step Write(uint8_t reg, int value) {
    return {Op::kWrite, reg, static_cast<uint8_t>(value & 0xFF)};
}

int SendSteps(Handle device, const Step *steps, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const Step &s = steps[i];
        int r = NFP_OK;
        switch (s.op) {
            case Op::kOpen: r = CaptureOpen(device); break;
            case Op::kArm: r = CaptureArm(device); break;
            case Op::kWrite: r = WriteRegister(device, s.reg, s.value); break;
            case Op::kStart: r = TransferStart(device); break;
        }
        if (r != NFP_OK) return r;
    }
    return NFP_OK;
}

template <size_t N>
int SendSteps(Handle device, const Step (&steps)[N]) {
    return SendSteps(device, steps, N);
}

// Drops the CaptureArm step when the caller did not ask for it.
template <size_t N>
int SendBand(Handle device, const Step (&steps)[N], bool arm) {
    Step chosen[N];
    size_t count = 0;
    for (const Step &s : steps)
        if (arm || s.op != Op::kArm) chosen[count++] = s;
    return SendSteps(device, chosen, count);
}

}  // namespace

int CurrentModel() { return currentModel.load(std::memory_order_relaxed); }
void SetCurrentModel(int model) { currentModel.store(model, std::memory_order_relaxed); }

int SendStreamFramePreamble(Handle device, int register38, int register50) {
    const Step steps[] = {Open(),         Arm(),          Write(37, 0),
                          Write(38, register38), Write(39, 0), Write(1, 5),
                          Write(50, register50), Write(2, 2),  Start()};
    return SendSteps(device, steps);
}

int SendBlockFramePreamble(Handle device, int register38, int register50) {
    const Step steps[] = {Open(),       Arm(),        Write(33, 4),
                          Write(37, 0), Write(38, register38), Write(39, 0),
                          Write(1, 5),  Write(50, register50), Write(2, 2),
                          Start()};
    return SendSteps(device, steps);
}

uint8_t BandRegister16(int startLine) {
    return static_cast<uint8_t>((startLine / 256) & 0xFF);
}

uint8_t BandRegister17(int startLine, bool blockPath) {
    // 64 bits so that start + 6 cannot overflow; the low byte is the same.
    int64_t line = static_cast<int64_t>(startLine) + (blockPath ? 6 : 0);
    return static_cast<uint8_t>((line % 256) & 0xFF);
}

int SendStreamBandPreamble(Handle device, int register38, bool arm, int startLine) {
    const Step steps[] = {Open(),
                          Arm(),
                          Write(16, BandRegister16(startLine)),
                          Write(17, BandRegister17(startLine, false)),
                          Write(37, 0),
                          Write(38, register38),
                          Write(39, 0),
                          Write(1, 5),
                          Write(2, 2),
                          Start()};
    return SendBand(device, steps, arm);
}

int SendBlockBandPreamble(Handle device, int register38, bool arm, int startLine) {
    const Step steps[] = {Open(),
                          Write(33, 4),
                          Arm(),
                          Write(16, BandRegister16(startLine)),
                          Write(17, BandRegister17(startLine, true)),
                          Write(37, 0),
                          Write(38, register38),
                          Write(39, 0),
                          Write(1, 5),
                          Write(50, kDefaultRegister50),
                          Write(2, 2),
                          Start()};
    return SendBand(device, steps, arm);
}

void MapBlockRows(const uint8_t *block, int rows, uint8_t *image) {
    // Every second byte of the row's 800, complemented: 16 pixels from 32
    // bytes by keeping the low byte of each 16-bit pair.
    const __m128i lowBytes = _mm_set1_epi16(0x00FF), all = _mm_set1_epi8(-1);
    for (int r = 0; r < rows; ++r) {
        const uint8_t *in = block + kBlockFirstRow + kBlockRowPitch * static_cast<size_t>(r);
        uint8_t *out = image + 400 * static_cast<size_t>(r);
        for (int c = 0; c < 400; c += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 2 * c));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 2 * c + 16));
            const __m128i pixels = _mm_packus_epi16(_mm_and_si128(a, lowBytes), _mm_and_si128(b, lowBytes));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + c), _mm_xor_si128(pixels, all));
        }
    }
}

// The block data is the picture itself: protected capture hands out only
// ciphertext, so no plain copy may stay behind in freed heap.
static void ReleaseWiped(uint8_t *buffer, size_t size) {
    SecureWipe(buffer, size);
    System().release(buffer);
}

int CaptureBlocks(Handle device, size_t bufferSize, uint32_t pieces, int rows,
                  uint8_t *image) {
    uint8_t *buffer = static_cast<uint8_t *>(System().allocate(bufferSize));
    if (!buffer) {
        System().debugOutput("Memory allocation error !");
        return NFP_ERR_GENERAL;
    }
    memset(buffer, 0, bufferSize);
    for (uint32_t i = 0; i < pieces; ++i) {
        // The count each read delivered is not examined.
        uint32_t got = 0;
        if (!System().read(device, buffer + static_cast<size_t>(kBlockPiece) * i,
                           kBlockPiece, &got)) {
            CaptureClose(device);
            ReleaseWiped(buffer, bufferSize);
            System().debugOutput("ImageData can not read !");
            return NFP_ERR_NO_IMAGE;
        }
    }
    CaptureClose(device);
    MapBlockRows(buffer, rows, image);
    ReleaseWiped(buffer, bufferSize);
    return 0;
}

int CaptureBlockFrame(Handle device, int register38, uint8_t *raw, int register50) {
    if (device == NoDevice()) return NFP_ERR_NO_DEVICE;
    int r = SendBlockFramePreamble(device, register38, register50);
    if (r != NFP_OK) return r;
    return CaptureBlocks(device, kBlockFrameSize, kBlockPieces, kStreamRows, raw);
}

}  // namespace kx

using namespace kx;

extern "C" int NFP_CALL NFP_Capture(HANDLE device, int register38, unsigned char *raw) {
    if (device == NoDevice()) return NFP_ERR_NO_DEVICE;
    int model = NFP_GetDevType(device);
    SetCurrentModel(model);
    if (model == 4 || model == 5) {
        int r = CaptureBlockFrame(device, register38, raw, kDefaultRegister50);
        return r == 0 ? NFP_OK : r;
    }
    // Model 3, and readers whose identity could not be read.
    int r = SendStreamFramePreamble(device, register38, kDefaultRegister50);
    if (r != NFP_OK) return r;
    return DecodeLineStream(device, raw, StreamVariant::kWholeByte, kStreamRows - 1);
}
