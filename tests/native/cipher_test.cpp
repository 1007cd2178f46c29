// cipher_test.cpp - DES known answers (FIPS 46-3 examples, FIPS 81 modes)
// and the cipher context's streaming, fill, refusal and key rules.
#include "acquisition/cipher.h"

#include <gtest/gtest.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Hex(const std::string &text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(uint8_t(std::stoul(text.substr(i, 2), nullptr, 16)));
    return out;
}

std::string ToHex(const uint8_t *p, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += kDigits[p[i] >> 4];
        s += kDigits[p[i] & 15];
    }
    return s;
}
std::string ToHex(const Bytes &b) {
    return ToHex(b.data(), b.size());
}

Bytes Encrypt(const Bytes &key, const Bytes &block) {
    uint8_t schedule[kx::kDesKeySchedule];
    Bytes out(8);
    kx::ComputeKeySchedule(key.data(), schedule);
    kx::EncryptBlock(schedule, block.data(), out.data());
    return out;
}

Bytes XorBlocks(const Bytes &a, const Bytes &b) {
    Bytes out(8);
    for (int i = 0; i < 8; ++i) out[i] = a[i] ^ b[i];
    return out;
}

// A keyed, reset context.
kx::CipherContext Started(int32_t mode, int32_t fillRule, const Bytes &key,
                          const uint8_t *iv) {
    kx::CipherContext ctx;
    memset(&ctx, 0xA5, sizeof ctx);  // nothing may rely on a cleared record
    kx::CipherInit(mode, fillRule, iv, &ctx);
    EXPECT_EQ(kx::CipherSetKey(key.data(), uint32_t(key.size()), &ctx), 0);
    EXPECT_EQ(kx::CipherReset(&ctx), 0);
    return ctx;
}

// Feeds message in pieces of the given sizes (the rest in one last piece),
// checks every update's output length and returns all output.
Bytes Stream(kx::CipherContext &ctx, const Bytes &message,
             const std::vector<size_t> &pieces) {
    Bytes out(message.size() + 8, 0);
    size_t used = 0, written = 0, given = 0;
    for (size_t p : pieces) given += p;
    std::vector<size_t> sizes = pieces;
    sizes.push_back(message.size() - given);
    for (size_t size : sizes) {
        const uint32_t before = ctx.pendingCount;
        uint32_t length = 0xDEAD;
        EXPECT_EQ(kx::CipherUpdate(&ctx, message.data() + used, uint32_t(size),
                                   out.data() + written, &length),
                  0);
        EXPECT_EQ(length, (before + size) / 8 * 8);
        used += size;
        written += length;
    }
    uint32_t length = 0xDEAD;
    EXPECT_EQ(kx::CipherFinal(&ctx, out.data() + written, &length), 0);
    out.resize(written + length);
    return out;
}

const Bytes kFipsKey = Hex("0123456789abcdef");
const Bytes kFipsIv = Hex("1234567890abcdef");
const Bytes kFipsPlain =
    Hex("4e6f772069732074"
        "68652074696d6520"
        "666f7220616c6c20");

// ---- DES itself ----

TEST(Des, KnownAnswers) {
    struct Case {
        const char *key, *plain, *cipher;
    };
    const Case cases[] = {
        {"133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
        {"0e329232ea6d0d73", "8787878787878787", "0000000000000000"},
        {"0123456789abcdef", "4e6f772069732074", "3fa40e8a984d4815"},
        // NIST SP 800-17 tables: variable plaintext, variable key,
        // permutation and substitution tests.
        {"0101010101010101", "8000000000000000", "95f8a5e5dd31d900"},
        {"0101010101010101", "4000000000000000", "dd7f121ca5015619"},
        {"8001010101010101", "0000000000000000", "95a8d72813daa94d"},
        {"1046913489980131", "0000000000000000", "88d55e54f54c97b4"},
        {"7ca110454a1a6e57", "01a1d6d039776742", "690f5b0d9a26939b"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ToHex(Encrypt(Hex(c.key), Hex(c.plain))), c.cipher)
            << "key " << c.key << " plaintext " << c.plain;
    }
}

TEST(Des, EncryptBlockInPlace) {
    uint8_t schedule[kx::kDesKeySchedule];
    kx::ComputeKeySchedule(Hex("133457799bbcdff1").data(), schedule);
    Bytes block = Hex("0123456789abcdef");
    kx::EncryptBlock(schedule, block.data(), block.data());
    EXPECT_EQ(ToHex(block), "85e813540f0ab405");
}

// ---- FIPS 81 sample (key 0123456789abcdef, iv 1234567890abcdef,
// "Now is the time for all ") ----

struct ModeAnswer {
    int32_t mode;
    const char *name;
    const char *cipher;
};
const ModeAnswer kFips81[] = {
    {kx::CIPHER_ECB, "ECB",
     "3fa40e8a984d4815"
     "6a271787ab8883f9"
     "893d51ec4b563b53"},
    {kx::CIPHER_CBC, "CBC",
     "e5c7cdde872bf27c"
     "43e934008c389c0f"
     "683788499a7c05f6"},
    {kx::CIPHER_OFB, "OFB",
     "f3096249c7f46e51"
     "35f24a242eeb3d3f"
     "3d6d5be3255af8c3"},
    {kx::CIPHER_CFB, "CFB",
     "f3096249c7f46e51"
     "a69e839b1a92f784"
     "03467133898ea622"},
};

TEST(CipherFips81, WholeMessageInOneUpdate) {
    for (const ModeAnswer &m : kFips81) {
        kx::CipherContext ctx =
            Started(m.mode, kx::CIPHER_NO_FILL, kFipsKey, kFipsIv.data());
        EXPECT_EQ(ToHex(Stream(ctx, kFipsPlain, {})), m.cipher) << m.name;
    }
}

// However the message is cut, the ciphertext is the same.
TEST(CipherFips81, EverySplitIntoThreeUpdates) {
    for (const ModeAnswer &m : kFips81) {
        for (size_t a = 0; a <= kFipsPlain.size(); ++a)
            for (size_t b = 0; a + b <= kFipsPlain.size(); ++b) {
                kx::CipherContext ctx = Started(m.mode, kx::CIPHER_NO_FILL,
                                                kFipsKey, kFipsIv.data());
                ASSERT_EQ(ToHex(Stream(ctx, kFipsPlain, {a, b})), m.cipher)
                    << m.name << " pieces " << a << ", " << b;
            }
    }
}

// The stream modes end mid-block: the last partial block is the prefix of
// what a whole block would have given.
TEST(CipherFips81, StreamModesEndOnAnyByte) {
    for (const ModeAnswer &m : kFips81) {
        if (m.mode != kx::CIPHER_OFB && m.mode != kx::CIPHER_CFB) continue;
        const Bytes full = Hex(m.cipher);
        for (size_t n = 0; n <= kFipsPlain.size(); ++n) {
            // Fill rules do not apply to the stream modes.
            kx::CipherContext ctx =
                Started(m.mode, 7, kFipsKey, kFipsIv.data());
            const Bytes message(kFipsPlain.begin(), kFipsPlain.begin() + n);
            EXPECT_EQ(ToHex(Stream(ctx, message, {})), ToHex(full.data(), n))
                << m.name << " length " << n;
        }
    }
}

TEST(CipherFips81, StreamModeFinalOfThreePendingBytes) {
    for (const ModeAnswer &m : kFips81) {
        if (m.mode != kx::CIPHER_OFB && m.mode != kx::CIPHER_CFB) continue;
        kx::CipherContext ctx =
            Started(m.mode, kx::CIPHER_NO_FILL, kFipsKey, kFipsIv.data());
        uint8_t out[16];
        memset(out, 0xEE, sizeof out);
        uint32_t length = 0;
        ASSERT_EQ(kx::CipherUpdate(&ctx, kFipsPlain.data(), 3, out, &length),
                  0);
        EXPECT_EQ(length, 0u);
        ASSERT_EQ(kx::CipherFinal(&ctx, out, &length), 0);
        EXPECT_EQ(length, 3u) << m.name;
        EXPECT_EQ(ToHex(out, 3), std::string(m.cipher, 6)) << m.name;
        EXPECT_EQ(out[3], 0xEE) << m.name << ": wrote past the pending bytes";
        EXPECT_EQ(ctx.pendingCount, 3u) << "final keeps the count";
    }
}

// ---- Streaming and fill ----

const Bytes kKey = Hex("3b3898371520f75e");
const Bytes kIv = Hex("0011223344556677");

TEST(CipherUpdate, EmptyUpdateOnEmptyContext) {
    kx::CipherContext ctx = Started(kx::CIPHER_CBC, 1, kKey, kIv.data());
    uint8_t out[8];
    uint32_t length = 99;
    EXPECT_EQ(kx::CipherUpdate(&ctx, nullptr, 0, out, &length), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(ctx.pendingCount, 0u);
}

TEST(CipherUpdate, ThreeThenFiveBytesMakeOneBlock) {
    const Bytes plain = Hex("0102030405060708");
    kx::CipherContext ctx = Started(kx::CIPHER_ECB, 1, kKey, nullptr);
    uint8_t out[8];
    memset(out, 0xEE, sizeof out);
    uint32_t length = 99;
    ASSERT_EQ(kx::CipherUpdate(&ctx, plain.data(), 3, out, &length), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(ToHex(out, 8), "eeeeeeeeeeeeeeee") << "no output before a block";
    EXPECT_EQ(ctx.pendingCount, 3u);
    ASSERT_EQ(kx::CipherUpdate(&ctx, plain.data() + 3, 5, out, &length), 0);
    EXPECT_EQ(length, 8u);
    EXPECT_EQ(ToHex(out, 8), ToHex(Encrypt(kKey, plain)));
    EXPECT_EQ(ctx.pendingCount, 0u);
}

// 20 bytes: two blocks out, four held; the filled final block is those
// four bytes and four bytes of value 4.
TEST(CipherFinal, FillRuleTwoAfterTwentyBytes) {
    Bytes plain(20);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(0x30 + i);
    const Bytes p0(plain.begin(), plain.begin() + 8);
    const Bytes p1(plain.begin() + 8, plain.begin() + 16);
    const Bytes last = Hex(ToHex(plain.data() + 16, 4) + "04040404");

    const Bytes e0 = Encrypt(kKey, p0), e1 = Encrypt(kKey, p1);
    const Bytes c0 = Encrypt(kKey, XorBlocks(p0, kIv));
    const Bytes c1 = Encrypt(kKey, XorBlocks(p1, c0));
    struct Case {
        int32_t mode;
        Bytes blocks, final;
    };
    const Case cases[] = {
        {kx::CIPHER_ECB, Hex(ToHex(e0) + ToHex(e1)), Encrypt(kKey, last)},
        {kx::CIPHER_CBC, Hex(ToHex(c0) + ToHex(c1)),
         Encrypt(kKey, XorBlocks(last, c1))},
    };
    for (const Case &c : cases) {
        kx::CipherContext ctx =
            Started(c.mode, kx::CIPHER_PKCS5, kKey, kIv.data());
        uint8_t out[24];
        uint32_t length = 0;
        ASSERT_EQ(kx::CipherUpdate(&ctx, plain.data(), 20, out, &length), 0);
        EXPECT_EQ(length, 16u);
        EXPECT_EQ(ctx.pendingCount, 4u);
        EXPECT_EQ(ToHex(out, 16), ToHex(c.blocks)) << "mode " << c.mode;
        ASSERT_EQ(kx::CipherFinal(&ctx, out + 16, &length), 0);
        EXPECT_EQ(length, 8u);
        EXPECT_EQ(ToHex(out + 16, 8), ToHex(c.final)) << "mode " << c.mode;
        if (c.mode == kx::CIPHER_CBC) {
            EXPECT_EQ(ToHex(ctx.chain, 8), ToHex(c.final));
        }
    }
}

TEST(CipherFinal, EmptyMessage) {
    const Bytes eights = Hex("0808080808080808");
    struct Case {
        int32_t mode, fillRule;
        int code;
        Bytes output;  // empty: nothing written
    };
    const Case cases[] = {
        {kx::CIPHER_ECB, kx::CIPHER_PKCS5, 0, Encrypt(kKey, eights)},
        {kx::CIPHER_CBC, kx::CIPHER_PKCS5, 0,
         Encrypt(kKey, XorBlocks(eights, kIv))},
        {kx::CIPHER_ECB, kx::CIPHER_NO_FILL, 0, {}},
        {kx::CIPHER_CBC, kx::CIPHER_NO_FILL, 0, {}},
        {kx::CIPHER_ECB, 0, kx::CIPHER_ERR_ARGUMENT, {}},
        {kx::CIPHER_CBC, 3, kx::CIPHER_ERR_ARGUMENT, {}},
        {kx::CIPHER_OFB, 0, 0, {}},
        {kx::CIPHER_CFB, 3, 0, {}},
    };
    for (const Case &c : cases) {
        kx::CipherContext ctx = Started(c.mode, c.fillRule, kKey, kIv.data());
        uint8_t out[16];
        memset(out, 0xEE, sizeof out);
        uint32_t length = 99;
        EXPECT_EQ(kx::CipherFinal(&ctx, out, &length), c.code)
            << "mode " << c.mode << " fill " << c.fillRule;
        if (c.code == 0) {
            EXPECT_EQ(length, c.output.size());
        }
        const size_t n = c.output.size();
        EXPECT_EQ(ToHex(out, n), ToHex(c.output));
        EXPECT_EQ(out[n], 0xEE) << "mode " << c.mode << " fill " << c.fillRule;
    }
}

TEST(CipherFinal, NoFillWithPendingBytesIsRefused) {
    for (int32_t mode : {kx::CIPHER_ECB, kx::CIPHER_CBC}) {
        kx::CipherContext ctx =
            Started(mode, kx::CIPHER_NO_FILL, kKey, kIv.data());
        uint8_t out[8];
        memset(out, 0xEE, sizeof out);
        uint32_t length = 99;
        ASSERT_EQ(kx::CipherUpdate(&ctx, kKey.data(), 4, out, &length), 0);
        length = 99;
        EXPECT_EQ(kx::CipherFinal(&ctx, out, &length),
                  kx::CIPHER_ERR_NOT_ALIGNED);
        EXPECT_EQ(length, 99u);
        EXPECT_EQ(ToHex(out, 8), "eeeeeeeeeeeeeeee");
    }
}

// Same address for input and output is refused only once a block would
// be produced, and the refusal changes nothing.
TEST(CipherUpdate, SameInputAndOutput) {
    kx::CipherContext ctx = Started(kx::CIPHER_CBC, 1, kKey, kIv.data());
    uint8_t buffer[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    uint32_t length = 99;
    ASSERT_EQ(kx::CipherUpdate(&ctx, buffer, 5, buffer, &length), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(ctx.pendingCount, 5u);

    const kx::CipherContext before = ctx;
    uint8_t copy[16];
    memcpy(copy, buffer, sizeof copy);
    EXPECT_EQ(kx::CipherUpdate(&ctx, buffer, 3, buffer, &length),
              kx::CIPHER_ERR_ARGUMENT);
    EXPECT_EQ(length, 8u) << "the total is reported even when refused";
    EXPECT_EQ(memcmp(&ctx, &before, sizeof ctx), 0);
    EXPECT_EQ(memcmp(buffer, copy, sizeof copy), 0);

    // Apart, the same call goes through.
    uint8_t out[8];
    EXPECT_EQ(kx::CipherUpdate(&ctx, buffer, 3, out, &length), 0);
    EXPECT_EQ(length, 8u);
}

TEST(CipherUpdate, OutputOnlyInWholeBlocks) {
    kx::CipherContext ctx = Started(kx::CIPHER_OFB, 1, kKey, kIv.data());
    Bytes message(37, 0x5A);
    Bytes out(40, 0xEE);
    uint32_t length = 0;
    ASSERT_EQ(kx::CipherUpdate(&ctx, message.data(), 37, out.data(), &length),
              0);
    EXPECT_EQ(length, 32u);
    EXPECT_EQ(ctx.pendingCount, 5u);
    EXPECT_EQ(ToHex(out.data() + 32, 8), "eeeeeeeeeeeeeeee");
    EXPECT_EQ(ToHex(ctx.pending, 5), "5a5a5a5a5a");
}

// ---- Modes outside 1 to 4 ----

TEST(CipherMode, UnknownModesAreRefusedByUpdateAndFinal) {
    for (int32_t mode : {0, 5, -1}) {
        kx::CipherContext ctx;
        memset(&ctx, 0, sizeof ctx);
        kx::CipherInit(mode, kx::CIPHER_NO_FILL, kIv.data(), &ctx);
        EXPECT_EQ(ctx.mode, mode);
        ASSERT_EQ(kx::CipherSetKey(kKey.data(), 8, &ctx), 0);
        EXPECT_EQ(kx::CipherReset(&ctx), 0);
        EXPECT_EQ(ToHex(ctx.chain, 8), ToHex(kIv)) << "only ECB keeps chain";

        const kx::CipherContext before = ctx;
        uint8_t out[16];
        memset(out, 0xEE, sizeof out);
        uint32_t length = 99;
        EXPECT_EQ(kx::CipherUpdate(&ctx, kKey.data(), 8, out, &length),
                  kx::CIPHER_ERR_ARGUMENT);
        EXPECT_EQ(kx::CipherUpdate(&ctx, kKey.data(), 2, out, &length),
                  kx::CIPHER_ERR_ARGUMENT);
        EXPECT_EQ(length, 99u) << "mode " << mode;
        EXPECT_EQ(memcmp(&ctx, &before, sizeof ctx), 0) << "mode " << mode;
        EXPECT_EQ(kx::CipherFinal(&ctx, out, &length), kx::CIPHER_ERR_ARGUMENT);
        EXPECT_EQ(length, 99u);
        EXPECT_EQ(ToHex(out, 16), std::string(32, 'e'));
    }
}

// ---- Init and reset ----

TEST(CipherInit, StoresOnlyModeFillRuleAndIv) {
    kx::CipherContext ctx;
    memset(&ctx, 0x3C, sizeof ctx);
    const kx::CipherContext before = ctx;
    kx::CipherInit(kx::CIPHER_CFB, 9, kIv.data(), &ctx);
    EXPECT_EQ(ctx.mode, kx::CIPHER_CFB);
    EXPECT_EQ(ctx.fillRule, 9);
    EXPECT_EQ(ToHex(ctx.iv, 8), ToHex(kIv));
    const size_t rest = offsetof(kx::CipherContext, chain);
    EXPECT_EQ(memcmp(reinterpret_cast<const uint8_t *>(&ctx) + rest,
                     reinterpret_cast<const uint8_t *>(&before) + rest,
                     sizeof ctx - rest),
              0)
        << "chain, pending, count and key schedule stay";

    kx::CipherInit(kx::CIPHER_CBC, 1, nullptr, &ctx);
    EXPECT_EQ(ToHex(ctx.iv, 8), "0000000000000000");
}

TEST(CipherInit, NullIvChainsWithZero) {
    const Bytes plain = Hex("fedcba9876543210");
    kx::CipherContext ctx = Started(kx::CIPHER_CBC, 1, kKey, nullptr);
    uint8_t out[8];
    uint32_t length = 0;
    ASSERT_EQ(kx::CipherUpdate(&ctx, plain.data(), 8, out, &length), 0);
    EXPECT_EQ(ToHex(out, 8), ToHex(Encrypt(kKey, plain)));
}

TEST(CipherReset, StartsANewMessage) {
    kx::CipherContext ctx = Started(kx::CIPHER_CBC, 1, kFipsKey, nullptr);
    uint8_t out[32];
    uint32_t length = 0;
    ASSERT_EQ(kx::CipherUpdate(&ctx, kFipsPlain.data(), 13, out, &length), 0);
    kx::CipherInit(kx::CIPHER_CBC, 1, kFipsIv.data(), &ctx);
    EXPECT_EQ(kx::CipherReset(&ctx), 0);
    EXPECT_EQ(ctx.pendingCount, 0u);
    EXPECT_EQ(ToHex(Stream(ctx, kFipsPlain, {})), kFips81[1].cipher);

    // ECB has no chaining value to restore.
    kx::CipherInit(kx::CIPHER_ECB, 1, kFipsIv.data(), &ctx);
    memset(ctx.chain, 0x77, 8);
    EXPECT_EQ(kx::CipherReset(&ctx), 0);
    EXPECT_EQ(ToHex(ctx.chain, 8), "7777777777777777");
}

// ---- Keys ----

TEST(CipherSetKey, WrongLengthChangesNothing) {
    kx::CipherContext ctx = Started(kx::CIPHER_CBC, 1, kKey, kIv.data());
    const kx::CipherContext before = ctx;
    const uint8_t key[16] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
    for (uint32_t length : {0u, 7u, 9u, 16u}) {
        EXPECT_EQ(kx::CipherSetKey(key, length, &ctx),
                  kx::CIPHER_ERR_KEY_LENGTH)
            << length;
        EXPECT_EQ(memcmp(&ctx, &before, sizeof ctx), 0) << length;
    }
}

// NIST SP 800-67: four weak keys (self-inverse) and six pairs of semi-weak
// keys (each undoes its partner).
struct WeakKey {
    const char *key;
    int partner;  // index of the key that undoes it
};
const WeakKey kWeakKeys[16] = {
    {"0101010101010101", 0},  {"fefefefefefefefe", 1},
    {"e0e0e0e0f1f1f1f1", 2},  {"1f1f1f1f0e0e0e0e", 3},
    {"011f011f010e010e", 5},  {"1f011f010e010e01", 4},
    {"01e001e001f101f1", 7},  {"e001e001f101f101", 6},
    {"01fe01fe01fe01fe", 9},  {"fe01fe01fe01fe01", 8},
    {"1fe01fe00ef10ef1", 11}, {"e01fe01ff10ef10e", 10},
    {"1ffe1ffe0efe0efe", 13}, {"fe1ffe1ffe0efe0e", 12},
    {"e0fee0fef1fef1fe", 15}, {"fee0fee0fef1fef1", 14},
};

TEST(CipherSetKey, WeakAndSemiWeakKeysAreRefused) {
    const Bytes probe = Hex("4e6f772069732074");
    for (const WeakKey &w : kWeakKeys) {
        const Bytes key = Hex(w.key);
        // The table itself: each key really is weak or semi-weak.
        EXPECT_EQ(
            ToHex(Encrypt(Hex(kWeakKeys[w.partner].key), Encrypt(key, probe))),
            ToHex(probe))
            << w.key;

        kx::CipherContext ctx = Started(kx::CIPHER_ECB, 1, kKey, nullptr);
        const kx::CipherContext before = ctx;
        EXPECT_EQ(kx::CipherSetKey(key.data(), 8, &ctx),
                  kx::CIPHER_ERR_WEAK_KEY)
            << w.key;
        EXPECT_EQ(memcmp(&ctx, &before, sizeof ctx), 0)
            << w.key << ": the previous key schedule must stay";
    }
}

// The comparison is byte for byte: the same key with a parity bit changed
// is accepted, and parity never matters to the schedule.
TEST(CipherSetKey, ParityBitsAreIgnored) {
    for (const WeakKey &w : kWeakKeys) {
        const Bytes weak = Hex(w.key);
        for (int byte = 0; byte < 8; ++byte) {
            Bytes key = weak;
            key[byte] ^= 0x01;
            kx::CipherContext ctx;
            ASSERT_EQ(kx::CipherSetKey(key.data(), 8, &ctx), 0) << ToHex(key);
            uint8_t expected[kx::kDesKeySchedule];
            kx::ComputeKeySchedule(weak.data(), expected);
            EXPECT_EQ(memcmp(ctx.keySchedule, expected, sizeof expected), 0)
                << ToHex(key);
        }
    }
    // A key with every parity bit wrong.
    kx::CipherContext ctx =
        Started(kx::CIPHER_ECB, 1, Hex("0022446688aaccee"), nullptr);
    EXPECT_EQ(ToHex(Stream(ctx, Hex("4e6f772069732074"), {})),
              "3fa40e8a984d4815");
}

TEST(CipherSetKey, NewKeyReplacesSchedule) {
    kx::CipherContext ctx = Started(kx::CIPHER_ECB, 1, kKey, nullptr);
    ASSERT_EQ(kx::CipherSetKey(kFipsKey.data(), 8, &ctx), 0);
    ASSERT_EQ(kx::CipherReset(&ctx), 0);
    EXPECT_EQ(ToHex(Stream(ctx, kFipsPlain, {})), kFips81[0].cipher);
}

// ---- Wipe ----

TEST(SecureWipe, ClearsExactlyTheRange) {
    uint8_t buffer[64];
    memset(buffer, 0xCD, sizeof buffer);
    kx::SecureWipe(buffer + 3, 50);
    for (size_t i = 0; i < sizeof buffer; ++i)
        EXPECT_EQ(buffer[i], (i >= 3 && i < 53) ? 0 : 0xCD) << i;
    kx::SecureWipe(buffer, 0);
    EXPECT_EQ(buffer[0], 0xCD);
}

}  // namespace
