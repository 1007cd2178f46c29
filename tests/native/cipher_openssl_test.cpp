// cipher_openssl_test.cpp - the cipher context against OpenSSL's DES as an
// oracle: random keys, chaining values, lengths and cuts of the message,
// every mode and fill rule, compared byte for byte.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <stdint.h>

#include <algorithm>
#include <random>
#include <vector>

#include "acquisition/cipher.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Mode {
    int32_t mode;
    const char *openSslName;
};
const Mode kModes[] = {
    {kx::CIPHER_ECB, "DES-ECB"},
    {kx::CIPHER_CBC, "DES-CBC"},
    {kx::CIPHER_OFB, "DES-OFB"},
    {kx::CIPHER_CFB, "DES-CFB"},  // 64-bit feedback
};

class OpenSslOracle : public ::testing::Test {
protected:
    // DES lives in OpenSSL 3's legacy provider; without it there is no
    // oracle, and that must fail the run rather than pass it quietly.
    static void SetUpTestSuite() {
        legacy_ = OSSL_PROVIDER_load(nullptr, "legacy");
        default_ = OSSL_PROVIDER_load(nullptr, "default");
    }
    static void TearDownTestSuite() {
        if (legacy_ != nullptr) OSSL_PROVIDER_unload(legacy_);
        if (default_ != nullptr) OSSL_PROVIDER_unload(default_);
        legacy_ = default_ = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(legacy_, nullptr) << "OpenSSL legacy provider not loadable";
        ASSERT_NE(default_, nullptr) << "OpenSSL default provider not loadable";
        for (const Mode &m : kModes) {
            EVP_CIPHER *cipher =
                EVP_CIPHER_fetch(nullptr, m.openSslName, nullptr);
            ASSERT_NE(cipher, nullptr) << "OpenSSL has no " << m.openSslName;
            ciphers_.push_back(cipher);
        }
        ctx_ = EVP_CIPHER_CTX_new();
        ASSERT_NE(ctx_, nullptr);
    }
    void TearDown() override {
        EVP_CIPHER_CTX_free(ctx_);
        for (EVP_CIPHER *c : ciphers_) EVP_CIPHER_free(c);
    }

    Bytes Oracle(size_t modeIndex, bool pad, const uint8_t *key,
                 const uint8_t *iv, const Bytes &message) {
        Bytes out(message.size() + 8);
        int length = 0, finalLength = 0;
        const bool ecb = kModes[modeIndex].mode == kx::CIPHER_ECB;
        EXPECT_EQ(EVP_EncryptInit_ex2(ctx_, ciphers_[modeIndex], key,
                                      ecb ? nullptr : iv, nullptr),
                  1);
        EXPECT_EQ(EVP_CIPHER_CTX_set_padding(ctx_, pad ? 1 : 0), 1);
        EXPECT_EQ(EVP_EncryptUpdate(ctx_, out.data(), &length, message.data(),
                                    int(message.size())),
                  1);
        EXPECT_EQ(EVP_EncryptFinal_ex(ctx_, out.data() + length, &finalLength),
                  1);
        out.resize(size_t(length + finalLength));
        return out;
    }

    static OSSL_PROVIDER *legacy_, *default_;
    std::vector<EVP_CIPHER *> ciphers_;
    EVP_CIPHER_CTX *ctx_ = nullptr;
};

OSSL_PROVIDER *OpenSslOracle::legacy_ = nullptr;
OSSL_PROVIDER *OpenSslOracle::default_ = nullptr;

// Ours: the message in the given pieces, then the final.
Bytes Ours(kx::CipherContext &ctx, const Bytes &message,
           const std::vector<size_t> &cuts) {
    Bytes out(message.size() + 8);
    size_t from = 0, written = 0;
    std::vector<size_t> ends = cuts;
    ends.push_back(message.size());
    for (size_t end : ends) {
        uint32_t length = 0;
        const uint32_t total = ctx.pendingCount + uint32_t(end - from);
        EXPECT_EQ(
            kx::CipherUpdate(&ctx, message.data() + from, uint32_t(end - from),
                             out.data() + written, &length),
            0);
        EXPECT_EQ(length, total / 8 * 8);
        written += length;
        from = end;
    }
    uint32_t length = 0;
    EXPECT_EQ(kx::CipherFinal(&ctx, out.data() + written, &length), 0);
    out.resize(written + length);
    return out;
}

TEST_F(OpenSslOracle, RandomMessagesInEveryModeAndFillRule) {
    const uint64_t seed = 0x6b78444553ull;
    std::mt19937_64 random(seed);
    auto below = [&](size_t n) { return size_t(random() % n); };
    const int kCasesPerMode = 1500;

    for (size_t m = 0; m < 4; ++m) {
        const bool blockMode = kModes[m].mode == kx::CIPHER_ECB ||
                               kModes[m].mode == kx::CIPHER_CBC;
        for (int i = 0; i < kCasesPerMode; ++i) {
            const int32_t fillRule = 1 + int32_t(below(2));
            // Mostly short messages, where the pieces and edges are; now
            // and then one of image size.
            size_t length = below(8) == 0 ? 89600 - below(64) : below(200);
            if (blockMode && fillRule == kx::CIPHER_NO_FILL)
                length &= ~size_t(7);
            Bytes message(length);
            for (uint8_t &b : message) b = uint8_t(random());
            std::vector<size_t> cuts(below(6));
            for (size_t &c : cuts) c = below(length + 1);
            std::sort(cuts.begin(), cuts.end());

            uint8_t key[8], iv[8];
            kx::CipherContext ctx;
            do {
                for (uint8_t &b : key) b = uint8_t(random());
            } while (kx::CipherSetKey(key, 8, &ctx) == kx::CIPHER_ERR_WEAK_KEY);
            for (uint8_t &b : iv) b = uint8_t(random());
            kx::CipherInit(kModes[m].mode, fillRule, iv, &ctx);
            ASSERT_EQ(kx::CipherReset(&ctx), 0);

            const Bytes expected = Oracle(
                m, blockMode && fillRule == kx::CIPHER_PKCS5, key, iv, message);
            const Bytes actual = Ours(ctx, message, cuts);
            ASSERT_EQ(actual.size(), expected.size())
                << kModes[m].openSslName << " case " << i << " length "
                << length << " fill " << fillRule << " seed " << seed;
            ASSERT_TRUE(actual == expected)
                << kModes[m].openSslName << " case " << i << " length "
                << length << " fill " << fillRule << " cuts " << cuts.size()
                << " seed " << seed;
        }
    }
}

// The block function alone, over many keys and blocks.
TEST_F(OpenSslOracle, SingleBlocksUnderRandomKeys) {
    std::mt19937_64 random(0x626c6f636bull);
    for (int i = 0; i < 20000; ++i) {
        uint8_t key[8], block[8], ours[8], schedule[kx::kDesKeySchedule];
        for (uint8_t &b : key) b = uint8_t(random());
        for (uint8_t &b : block) b = uint8_t(random());
        kx::ComputeKeySchedule(key, schedule);
        kx::EncryptBlock(schedule, block, ours);
        const Bytes expected =
            Oracle(0, false, key, nullptr, Bytes(block, block + 8));
        ASSERT_TRUE(Bytes(ours, ours + 8) == expected) << "case " << i;
    }
}

}  // namespace
