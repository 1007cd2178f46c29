// cipher.h - the library's streaming DES encryption (ECB, CBC, 64-bit OFB,
// 64-bit CFB) and the wipe used for key material and plain images. Needs
// nothing first. Encryption only; nothing here is exported.
#ifndef KX_ACQUISITION_CIPHER_H
#define KX_ACQUISITION_CIPHER_H

#include <stddef.h>
#include <stdint.h>

namespace kx {

// Result codes of the cipher; they never leave the library.
enum CipherResult {
    CIPHER_OK = 0,
    CIPHER_ERR_ARGUMENT = 4097,     // mode or fill rule unknown, or in == out
    CIPHER_ERR_KEY_LENGTH = 4098,   // key length other than 8
    CIPHER_ERR_NOT_ALIGNED = 4100,  // no fill and the data ended mid-block
    CIPHER_ERR_WEAK_KEY = 4102,     // weak or semi-weak DES key
};

enum CipherMode {
    CIPHER_ECB = 1,
    CIPHER_CBC = 2,
    CIPHER_OFB = 3,  // 64-bit feedback
    CIPHER_CFB = 4,  // 64-bit feedback
};

// ECB and CBC only; OFB and CFB ignore the fill rule.
enum CipherFillRule {
    CIPHER_NO_FILL = 1,  // the message must be whole blocks
    CIPHER_PKCS5 = 2,    // last block filled with n bytes of value n
};

const uint32_t kDesBlock = 8;
const uint32_t kDesKeySchedule = 128;

// A plain record owned by the caller; no pointers, nothing to release.
// The key schedule's internal form is private to cipher.cpp.
struct CipherContext {
    int32_t mode;
    int32_t fillRule;
    uint8_t iv[8];
    uint8_t chain[8];    // last ciphertext (CBC, CFB) or keystream (OFB) block
    uint8_t pending[8];  // input that does not yet make a whole block
    uint32_t pendingCount;
    uint8_t keySchedule[128];
};
static_assert(sizeof(CipherContext) == 164, "context fields must not pad");

// Stores mode and fill rule unchecked; iv may be null (all-zero iv).
// Leaves the key schedule alone.
void CipherInit(int32_t mode, int32_t fillRule, const uint8_t *iv,
                CipherContext *ctx);

// 0, 4098 (length not 8, context unchanged) or 4102 (weak or semi-weak
// key, previous schedule kept). Parity bits are ignored, never tested.
int CipherSetKey(const uint8_t *key, uint32_t length, CipherContext *ctx);

// Starts a message: no pending bytes, chain = iv. Always 0.
int CipherReset(CipherContext *ctx);

// Encrypts every whole block that pendingCount + n bytes make; the rest
// waits in pending. *outLength gets the bytes written (a multiple of 8);
// out must hold pendingCount + n rounded down to 8. in == out is refused
// (4097) once a block would be produced; a refused update changes nothing
// in the context.
int CipherUpdate(CipherContext *ctx, const uint8_t *in, uint32_t n,
                 uint8_t *out, uint32_t *outLength);

// Ends the message: ECB/CBC write the filled last block (8 bytes) or
// nothing (no fill; 4100 if bytes are pending); OFB/CFB write the pending
// bytes' encryption. The context needs CipherReset before reuse.
int CipherFinal(CipherContext *ctx, uint8_t *out, uint32_t *outLength);

// The standard DES key schedule of an 8-byte key into the 128-byte
// internal form. No weak-key test; CipherSetKey is the checked way in.
void ComputeKeySchedule(const uint8_t key[8], uint8_t keySchedule[128]);

// DES encryption of one block under a schedule from ComputeKeySchedule.
// in and out may be the same block.
void EncryptBlock(const uint8_t *keySchedule, const uint8_t in[8],
                  uint8_t out[8]);

// Zeroes n bytes in a way the optimiser may not drop, even when the
// memory is never read again.
void SecureWipe(void *p, size_t n);

}  // namespace kx

#endif
