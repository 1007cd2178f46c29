// cipher.cpp - DES (FIPS 46-3) and the streaming cipher context.
//
// The block function is the table-driven form: the E expansion, S-boxes
// and P permutation of a round become eight lookups in combined "SP"
// tables, and the initial and final permutations become five masked bit
// swaps each. The two halves are kept rotated left by one bit between the
// permutations, so that every 6-bit S-box input lies in one byte of either
// the half itself or the half rotated right by four; the key schedule is
// stored in that same byte layout, two words per round.
#include "cipher.h"

#include <string.h>

namespace kx {
namespace {

// ---- FIPS 46-3 tables (bit numbers count from 1 at the most significant
// bit, as in the standard) ----

constexpr uint8_t kSBox[8][64] = {
    {14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7,
     0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8,
     4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0,
     15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13},
    {15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10,
     3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5,
     0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15,
     13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9},
    {10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8,
     13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1,
     13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7,
     1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12},
    {7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15,
     13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9,
     10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4,
     3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14},
    {2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9,
     14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6,
     4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14,
     11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3},
    {12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11,
     10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8,
     9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6,
     4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13},
    {4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1,
     13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6,
     1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2,
     6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12},
    {13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7,
     1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2,
     7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8,
     2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11},
};

// Permutation P of the round function's output.
constexpr uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17,
                            1, 15, 23, 26, 5, 18, 31, 10,
                            2, 8, 24, 14, 32, 27, 3, 9,
                            19, 13, 30, 6, 22, 11, 4, 25};

// Permuted choice 1: key bits into C (first 28) and D (last 28).
constexpr uint8_t kPC1[56] = {57, 49, 41, 33, 25, 17, 9, 1, 58, 50,
                              42, 34, 26, 18, 10, 2, 59, 51, 43, 35,
                              27, 19, 11, 3, 60, 52, 44, 36, 63, 55,
                              47, 39, 31, 23, 15, 7, 62, 54, 46, 38,
                              30, 22, 14, 6, 61, 53, 45, 37, 29, 21,
                              13, 5, 28, 20, 12, 4};

// Permuted choice 2: bits of CD into the 48-bit subkey.
constexpr uint8_t kPC2[48] = {14, 17, 11, 24, 1, 5, 3, 28, 15, 6,
                              21, 10, 23, 19, 12, 4, 26, 8, 16, 7,
                              27, 20, 13, 2, 41, 52, 31, 37, 47, 55,
                              30, 40, 51, 45, 33, 48, 44, 49, 39, 56,
                              34, 53, 46, 42, 50, 36, 29, 32};

constexpr uint8_t kKeyShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2,
                                    1, 2, 2, 2, 2, 2, 2, 1};

// A mistyped entry shows up here rather than as a wrong ciphertext.
constexpr bool SBoxRowsArePermutations() {
    for (int s = 0; s < 8; ++s)
        for (int row = 0; row < 4; ++row) {
            unsigned seen = 0;
            for (int col = 0; col < 16; ++col)
                seen |= 1u << kSBox[s][row * 16 + col];
            if (seen != 0xffffu) return false;
        }
    return true;
}

constexpr bool IsSelection(const uint8_t *table, int count, int range) {
    uint64_t seen = 0;
    for (int i = 0; i < count; ++i) {
        if (table[i] < 1 || table[i] > range) return false;
        const uint64_t bit = uint64_t(1) << (table[i] - 1);
        if (seen & bit) return false;
        seen |= bit;
    }
    return true;
}

constexpr bool Pc1SkipsParityBits() {
    for (int i = 0; i < 56; ++i)
        if (kPC1[i] % 8 == 0) return false;
    return true;
}

constexpr int SumOfShifts() {
    int sum = 0;
    for (int i = 0; i < 16; ++i) sum += kKeyShifts[i];
    return sum;
}

static_assert(SBoxRowsArePermutations(), "S-box row is not a permutation");
static_assert(IsSelection(kP, 32, 32), "P is not a permutation");
static_assert(IsSelection(kPC1, 56, 64) && Pc1SkipsParityBits(),
              "PC1 must pick each non-parity key bit once");
static_assert(IsSelection(kPC2, 48, 56), "PC2 repeats a bit");
static_assert(SumOfShifts() == 28, "key shifts must bring C and D round");

// The sixteen weak and semi-weak keys (NIST SP 800-67), parity included.
// The semi-weak ones come in pairs that undo each other.
constexpr uint8_t kWeakKeys[16][8] = {
    {0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01},
    {0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE},
    {0xE0, 0xE0, 0xE0, 0xE0, 0xF1, 0xF1, 0xF1, 0xF1},
    {0x1F, 0x1F, 0x1F, 0x1F, 0x0E, 0x0E, 0x0E, 0x0E},
    {0x01, 0x1F, 0x01, 0x1F, 0x01, 0x0E, 0x01, 0x0E},
    {0x1F, 0x01, 0x1F, 0x01, 0x0E, 0x01, 0x0E, 0x01},
    {0x01, 0xE0, 0x01, 0xE0, 0x01, 0xF1, 0x01, 0xF1},
    {0xE0, 0x01, 0xE0, 0x01, 0xF1, 0x01, 0xF1, 0x01},
    {0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE},
    {0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01},
    {0x1F, 0xE0, 0x1F, 0xE0, 0x0E, 0xF1, 0x0E, 0xF1},
    {0xE0, 0x1F, 0xE0, 0x1F, 0xF1, 0x0E, 0xF1, 0x0E},
    {0x1F, 0xFE, 0x1F, 0xFE, 0x0E, 0xFE, 0x0E, 0xFE},
    {0xFE, 0x1F, 0xFE, 0x1F, 0xFE, 0x0E, 0xFE, 0x0E},
    {0xE0, 0xFE, 0xE0, 0xFE, 0xF1, 0xFE, 0xF1, 0xFE},
    {0xFE, 0xE0, 0xFE, 0xE0, 0xFE, 0xF1, 0xFE, 0xF1},
};

// ---- Word helpers ----

constexpr uint32_t RotateLeft(uint32_t x, unsigned n) {
    return (x << n) | (x >> (32 - n));
}
constexpr uint32_t RotateRight(uint32_t x, unsigned n) {
    return (x >> n) | (x << (32 - n));
}

inline uint32_t LoadBigEndian(const uint8_t *p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) |
           (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void StoreBigEndian(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// Schedule words are in host order: only this file reads them.
inline uint32_t LoadHost(const uint8_t *p) {
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}
inline void StoreHost(uint8_t *p, uint32_t v) {
    memcpy(p, &v, sizeof v);
}

// ---- SP tables ----

struct SpTables {
    uint32_t box[8][64];
};

// box[s][x]: P applied to S-box s's output for the 6-bit input x (first
// input bit most significant), in the rotated-by-one layout of the halves.
constexpr SpTables BuildSpTables() {
    SpTables sp{};
    for (int s = 0; s < 8; ++s)
        for (int x = 0; x < 64; ++x) {
            const int row = ((x >> 4) & 2) | (x & 1);
            const int col = (x >> 1) & 15;
            const uint32_t beforeP = uint32_t(kSBox[s][row * 16 + col])
                                     << (28 - 4 * s);
            uint32_t afterP = 0;
            for (int i = 0; i < 32; ++i)
                if ((beforeP >> (32 - kP[i])) & 1) afterP |= 1u << (31 - i);
            sp.box[s][x] = RotateLeft(afterP, 1);
        }
    return sp;
}

constexpr SpTables kSp = BuildSpTables();

// ---- Block function ----

// Swaps the bits of b under mask m with the bits of a under m << n.
inline void SwapBits(uint32_t &a, uint32_t &b, unsigned n, uint32_t m) {
    const uint32_t t = ((a >> n) ^ b) & m;
    b ^= t;
    a ^= t << n;
}

// The round function on a half in the rotated layout, for one round's two
// schedule words: the first carries S-boxes 1, 3, 5, 7, the second 2, 4,
// 6, 8, one per byte from the top.
inline uint32_t Round(uint32_t half, const uint8_t *subkey) {
    uint32_t w = RotateRight(half, 4) ^ LoadHost(subkey);
    uint32_t f = kSp.box[6][w & 0x3f] | kSp.box[4][(w >> 8) & 0x3f] |
                 kSp.box[2][(w >> 16) & 0x3f] | kSp.box[0][(w >> 24) & 0x3f];
    w = half ^ LoadHost(subkey + 4);
    f |= kSp.box[7][w & 0x3f] | kSp.box[5][(w >> 8) & 0x3f] |
         kSp.box[3][(w >> 16) & 0x3f] | kSp.box[1][(w >> 24) & 0x3f];
    return f;
}

// The bulk loops need the block function inlined into them, which the
// optimiser would not do by itself for a body of this size.
#if defined(__GNUC__)
#define KX_FORCE_INLINE inline __attribute__((always_inline))
#else
#define KX_FORCE_INLINE inline
#endif

struct Halves {
    uint32_t left, right;  // the block's first and last four bytes, big-endian
};

// DES encryption of one block.
KX_FORCE_INLINE Halves Des(const uint8_t *schedule, Halves block) {
    uint32_t l = block.left, r = block.right;

    // Initial permutation; the last swap is folded into the rotation.
    SwapBits(l, r, 4, 0x0f0f0f0fu);
    SwapBits(l, r, 16, 0x0000ffffu);
    SwapBits(r, l, 2, 0x33333333u);
    SwapBits(r, l, 8, 0x00ff00ffu);
    r = RotateLeft(r, 1);
    uint32_t t = (l ^ r) & 0xaaaaaaaau;
    l ^= t;
    r ^= t;
    l = RotateLeft(l, 1);

    // Sixteen rounds written out: the halves alternate instead of swapping.
    l ^= Round(r, schedule + 0 * 8);
    r ^= Round(l, schedule + 1 * 8);
    l ^= Round(r, schedule + 2 * 8);
    r ^= Round(l, schedule + 3 * 8);
    l ^= Round(r, schedule + 4 * 8);
    r ^= Round(l, schedule + 5 * 8);
    l ^= Round(r, schedule + 6 * 8);
    r ^= Round(l, schedule + 7 * 8);
    l ^= Round(r, schedule + 8 * 8);
    r ^= Round(l, schedule + 9 * 8);
    l ^= Round(r, schedule + 10 * 8);
    r ^= Round(l, schedule + 11 * 8);
    l ^= Round(r, schedule + 12 * 8);
    r ^= Round(l, schedule + 13 * 8);
    l ^= Round(r, schedule + 14 * 8);
    r ^= Round(l, schedule + 15 * 8);

    // Final permutation on (R16, L16): the initial one undone step by step.
    uint32_t hi = RotateRight(r, 1), lo = l;
    t = (hi ^ lo) & 0xaaaaaaaau;
    hi ^= t;
    lo ^= t;
    lo = RotateRight(lo, 1);
    SwapBits(lo, hi, 8, 0x00ff00ffu);
    SwapBits(lo, hi, 2, 0x33333333u);
    SwapBits(hi, lo, 16, 0x0000ffffu);
    SwapBits(hi, lo, 4, 0x0f0f0f0fu);
    return Halves{hi, lo};
}

KX_FORCE_INLINE Halves LoadBlock(const uint8_t *p) {
    return Halves{LoadBigEndian(p), LoadBigEndian(p + 4)};
}
KX_FORCE_INLINE void StoreBlock(uint8_t *p, Halves b) {
    StoreBigEndian(p, b.left);
    StoreBigEndian(p + 4, b.right);
}
KX_FORCE_INLINE Halves Xor(Halves a, Halves b) {
    return Halves{a.left ^ b.left, a.right ^ b.right};
}

// Runs the block step of the context's mode over count whole blocks from
// in to out, carrying the chaining value in registers between blocks.
void RunBlocks(CipherContext *ctx, const uint8_t *in, uint8_t *out,
               size_t count) {
    const uint8_t *schedule = ctx->keySchedule;
    Halves chain = LoadBlock(ctx->chain);
    switch (ctx->mode) {
    case CIPHER_ECB:
        for (; count != 0; --count, in += 8, out += 8)
            StoreBlock(out, Des(schedule, LoadBlock(in)));
        return;  // ECB has no chaining value
    case CIPHER_CBC:
        for (; count != 0; --count, in += 8, out += 8) {
            chain = Des(schedule, Xor(LoadBlock(in), chain));
            StoreBlock(out, chain);
        }
        break;
    case CIPHER_OFB:
        for (; count != 0; --count, in += 8, out += 8) {
            chain = Des(schedule, chain);
            StoreBlock(out, Xor(LoadBlock(in), chain));
        }
        break;
    case CIPHER_CFB:
        for (; count != 0; --count, in += 8, out += 8) {
            chain = Xor(Des(schedule, chain), LoadBlock(in));
            StoreBlock(out, chain);
        }
        break;
    default:
        return;
    }
    StoreBlock(ctx->chain, chain);
}

bool IsKnownMode(int32_t mode) {
    return mode >= CIPHER_ECB && mode <= CIPHER_CFB;
}

}  // namespace

void ComputeKeySchedule(const uint8_t key[8], uint8_t keySchedule[128]) {
    const uint64_t k =
        (uint64_t(LoadBigEndian(key)) << 32) | LoadBigEndian(key + 4);
    uint32_t c = 0, d = 0;  // 28 bits each, first bit most significant
    for (int i = 0; i < 28; ++i) {
        c = (c << 1) | uint32_t((k >> (64 - kPC1[i])) & 1);
        d = (d << 1) | uint32_t((k >> (64 - kPC1[28 + i])) & 1);
    }
    for (int round = 0; round < 16; ++round) {
        for (int s = 0; s < kKeyShifts[round]; ++s) {
            c = ((c << 1) | (c >> 27)) & 0x0fffffffu;
            d = ((d << 1) | (d >> 27)) & 0x0fffffffu;
        }
        const uint64_t cd = (uint64_t(c) << 28) | d;
        uint32_t group[8] = {};
        for (int i = 0; i < 48; ++i)
            group[i / 6] =
                (group[i / 6] << 1) | uint32_t((cd >> (56 - kPC2[i])) & 1);
        const uint32_t odd =  // S-boxes 1, 3, 5, 7
            (group[0] << 24) | (group[2] << 16) | (group[4] << 8) | group[6];
        const uint32_t even =  // S-boxes 2, 4, 6, 8
            (group[1] << 24) | (group[3] << 16) | (group[5] << 8) | group[7];
        StoreHost(keySchedule + 8 * round, odd);
        StoreHost(keySchedule + 8 * round + 4, even);
    }
}

void EncryptBlock(const uint8_t *keySchedule, const uint8_t in[8],
                  uint8_t out[8]) {
    StoreBlock(out, Des(keySchedule, LoadBlock(in)));
}

void CipherInit(int32_t mode, int32_t fillRule, const uint8_t *iv,
                CipherContext *ctx) {
    ctx->mode = mode;
    ctx->fillRule = fillRule;
    if (iv != nullptr)
        memcpy(ctx->iv, iv, sizeof ctx->iv);
    else
        memset(ctx->iv, 0, sizeof ctx->iv);
}

int CipherSetKey(const uint8_t *key, uint32_t length, CipherContext *ctx) {
    if (length != 8) return CIPHER_ERR_KEY_LENGTH;
    for (const auto &weak : kWeakKeys)
        if (memcmp(key, weak, sizeof weak) == 0) return CIPHER_ERR_WEAK_KEY;
    ComputeKeySchedule(key, ctx->keySchedule);
    return CIPHER_OK;
}

int CipherReset(CipherContext *ctx) {
    ctx->pendingCount = 0;
    if (ctx->mode != CIPHER_ECB) memcpy(ctx->chain, ctx->iv, sizeof ctx->chain);
    return CIPHER_OK;
}

int CipherUpdate(CipherContext *ctx, const uint8_t *in, uint32_t n,
                 uint8_t *out, uint32_t *outLength) {
    if (!IsKnownMode(ctx->mode)) return CIPHER_ERR_ARGUMENT;
    const uint32_t held = ctx->pendingCount;
    const uint32_t total = held + n;
    *outLength = total;
    if (total < kDesBlock) {
        if (n != 0) memcpy(ctx->pending + held, in, n);
        ctx->pendingCount = total;
        *outLength = 0;
        return CIPHER_OK;
    }
    if (in == out) return CIPHER_ERR_ARGUMENT;

    // The first block starts with what was held back, so the input and
    // output of later blocks are offset by held bytes.
    const uint32_t head = kDesBlock - held;
    memcpy(ctx->pending + held, in, head);
    RunBlocks(ctx, ctx->pending, out, 1);

    const uint32_t rest = n - head;
    const uint32_t blocks = rest / kDesBlock;
    RunBlocks(ctx, in + head, out + kDesBlock, blocks);

    const uint32_t tail = rest % kDesBlock;
    if (tail != 0) memcpy(ctx->pending, in + head + kDesBlock * blocks, tail);
    ctx->pendingCount = tail;
    *outLength = total - tail;
    return CIPHER_OK;
}

int CipherFinal(CipherContext *ctx, uint8_t *out, uint32_t *outLength) {
    const uint32_t held = ctx->pendingCount;
    switch (ctx->mode) {
    case CIPHER_ECB:
    case CIPHER_CBC:
        if (ctx->fillRule == CIPHER_NO_FILL) {
            if (held != 0) return CIPHER_ERR_NOT_ALIGNED;
            *outLength = 0;
            return CIPHER_OK;
        }
        if (ctx->fillRule != CIPHER_PKCS5) return CIPHER_ERR_ARGUMENT;
        memset(ctx->pending + held, int(kDesBlock - held), kDesBlock - held);
        RunBlocks(ctx, ctx->pending, out, 1);
        *outLength = kDesBlock;
        return CIPHER_OK;
    case CIPHER_OFB:
        EncryptBlock(ctx->keySchedule, ctx->chain, ctx->chain);
        for (uint32_t i = 0; i < held; ++i)
            out[i] = ctx->pending[i] ^ ctx->chain[i];
        *outLength = held;
        return CIPHER_OK;
    case CIPHER_CFB:
        // All eight pending bytes go into the chaining value, as in a
        // block step; only the held ones are output.
        EncryptBlock(ctx->keySchedule, ctx->chain, ctx->chain);
        for (uint32_t i = 0; i < kDesBlock; ++i)
            ctx->chain[i] ^= ctx->pending[i];
        if (held != 0) memcpy(out, ctx->chain, held);
        *outLength = held;
        return CIPHER_OK;
    default:
        return CIPHER_ERR_ARGUMENT;
    }
}

void SecureWipe(void *p, size_t n) {
    // Volatile stores are observable behaviour, so they cannot be elided
    // as dead stores before a free or the end of a stack frame.
    volatile uint8_t *v = static_cast<volatile uint8_t *>(p);
    while (n-- != 0) *v++ = 0;
}

}  // namespace kx
