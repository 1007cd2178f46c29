// protected.cpp - protected capture: the caller receives the corrected
// image only as DES-CBC ciphertext under its own key. The plain images
// and the key schedule live in buffers of this call alone and are wiped
// before they are released.
#include <string.h>

#include "KX7300V20.h"
#include "../seam/system.h"
#include "capture.h"
#include "cipher.h"
#include "correction.h"
#include "stream_decoder.h"

namespace kx {
namespace {

constexpr int kLastFrameLine = 301;

// A heap block for plain image data, zeroed so that nothing of an earlier
// owner's bytes can reach the ciphertext (a model-3 stream never writes
// raw columns 398 and 399).
uint8_t *ObtainImageBuffer(size_t size) {
    uint8_t *block = static_cast<uint8_t *>(System().allocate(size));
    if (block) memset(block, 0, size);
    return block;
}

void WipeAndRelease(uint8_t *block, size_t size) {
    if (!block) return;
    SecureWipe(block, size);
    System().release(block);
}

// The frame, from a reader whose identity bytes could be read.
int CaptureRawProtected(Handle device, int register38, uint8_t *raw, int register50) {
    if (device == NoDevice()) return NFP_ERR_NO_DEVICE;
    // The identity bytes read once, mapped as the model code is; a reader
    // whose identity cannot be read is refused, CurrentModel unchanged.
    const int model = NFP_GetDevType(device);
    if (model == 0) return NFP_ERR_GENERAL;
    SetCurrentModel(model);
    if (model != 3) {
        int r = CaptureBlockFrame(device, register38, raw, register50);
        return r == 0 ? NFP_OK : r;
    }
    int r = SendStreamFramePreamble(device, register38, register50);
    if (r != NFP_OK) return r;
    return DecodeLineStream(device, raw, StreamVariant::kLowNibble, kLastFrameLine);
}

// NFP_CorrectImage, with its working image wiped as well.
int CorrectWiped(const uint8_t *raw, uint8_t *corrected) {
    uint8_t *work = static_cast<uint8_t *>(System().allocate(kWorkingSize));
    if (!work) return NFP_ERR_GENERAL;
    Correct(raw, work, corrected, CorrectionFor(CurrentModel()));
    WipeAndRelease(work, kWorkingSize);
    return NFP_OK;
}

int Encrypt(const uint8_t *plain, const uint8_t *key, const uint8_t *iv, uint8_t *output) {
    CipherContext context;
    CipherInit(CIPHER_CBC, CIPHER_NO_FILL, iv, &context);
    uint32_t written = 0, finalBytes = 0;
    int r = CipherSetKey(key, kDesBlock, &context);
    if (r == CIPHER_OK) r = CipherReset(&context);
    if (r == CIPHER_OK) r = CipherUpdate(&context, plain, NFP_CORRECTED_SIZE, output, &written);
    if (r == CIPHER_OK) r = CipherFinal(&context, output + written, &finalBytes);
    SecureWipe(&context, sizeof context);
    return r;
}

}  // namespace
}  // namespace kx

using namespace kx;

extern "C" int NFP_CALL NFP_CaptureImageEx(HANDLE device, int register38,
                                           const unsigned char *key8,
                                           const unsigned char *iv8,
                                           unsigned char *output, int register50) {
    System().debugOutput("NFP_CaptureImageEx \n");
    uint8_t *raw = ObtainImageBuffer(NFP_RAW_SIZE);
    if (!raw) return NFP_ERR_NO_IMAGE_MEMORY;
    int r = CaptureRawProtected(device, register38, raw, register50);
    if (r != NFP_OK) {
        WipeAndRelease(raw, NFP_RAW_SIZE);
        return r;
    }
    uint8_t *corrected = ObtainImageBuffer(NFP_CORRECTED_SIZE);
    if (!corrected) {
        WipeAndRelease(raw, NFP_RAW_SIZE);
        return NFP_ERR_NO_IMAGE_MEMORY;
    }
    // A failed correction is reported at the end; the ciphertext of the
    // (then zeroed) buffer is written all the same.
    int correction = CorrectWiped(raw, corrected);
    WipeAndRelease(raw, NFP_RAW_SIZE);
    int encrypted = Encrypt(corrected, key8, iv8, output);
    WipeAndRelease(corrected, NFP_CORRECTED_SIZE);
    return encrypted == CIPHER_OK ? correction : NFP_ERR_ENCRYPT;
}
