// Protected capture: the ciphertext decrypts to exactly the corrected
// frame, the failure rows leave the output as they say, and no plain
// image is released unwiped.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <string.h>

#include <vector>

#include "acquisition/capture.h"
#include "acquisition_support.h"

namespace {

using acq::ReaderRig;

const uint8_t kKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
const uint8_t kIv[8] = {0x12, 0x34, 0x56, 0x78, 0x90, 0xAB, 0xCD, 0xEF};
const uint8_t kWeakKey[8] = {0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01};
constexpr size_t kGuard = 64;

// OpenSSL's DES-CBC as the oracle.
std::vector<uint8_t> Decrypt(const uint8_t *cipher, size_t size, const uint8_t *iv) {
    static OSSL_PROVIDER *legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER *base = OSSL_PROVIDER_load(nullptr, "default");
    EXPECT_TRUE(legacy && base) << "OpenSSL legacy provider not loadable";
    std::vector<uint8_t> plain(size + 8);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    EVP_CIPHER *des = EVP_CIPHER_fetch(nullptr, "DES-CBC", nullptr);
    const uint8_t zero[8] = {};
    int n = 0, m = 0;
    EXPECT_EQ(EVP_DecryptInit_ex(ctx, des, nullptr, kKey, iv ? iv : zero), 1);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EXPECT_EQ(EVP_DecryptUpdate(ctx, plain.data(), &n, cipher, static_cast<int>(size)), 1);
    EXPECT_EQ(EVP_DecryptFinal_ex(ctx, plain.data() + n, &m), 1);
    EVP_CIPHER_free(des);
    EVP_CIPHER_CTX_free(ctx);
    plain.resize(n + m);
    return plain;
}

// What the reader's picture becomes: the raw frame (a model-3 stream
// leaves columns 398 and 399 at the cleared zeros), corrected.
std::vector<uint8_t> ExpectedCorrection(const uint8_t *picture, bool stream) {
    std::vector<uint8_t> raw(picture, picture + NFP_RAW_SIZE), corrected(NFP_CORRECTED_SIZE);
    if (stream)
        for (int r = 0; r < 302; ++r) raw[r * 400 + 398] = raw[r * 400 + 399] = 0;
    EXPECT_EQ(NFP_CorrectImage(raw.data(), corrected.data()), NFP_OK);
    return corrected;
}

class ProtectedCapture : public ::testing::Test {
  protected:
    std::vector<uint8_t> output = std::vector<uint8_t>(NFP_CORRECTED_SIZE + kGuard, 0xCC);
    bool Untouched() const {
        for (uint8_t b : output)
            if (b != 0xCC) return false;
        return true;
    }
    bool GuardIntact() const {
        for (size_t i = NFP_CORRECTED_SIZE; i < output.size(); ++i)
            if (output[i] != 0xCC) return false;
        return true;
    }
};

TEST_F(ProtectedCapture, DecryptsToTheCorrectedFrameOnEveryPath) {
    struct Case {
        char identity;
        int model;
        bool stream;
    } cases[] = {{'3', 3, true}, {'4', 4, false}, {'5', 5, false}, {'7', 3, true}, {0, 3, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "identity " << int(c.identity));
        ReaderRig rig(c.identity);
        std::vector<uint8_t> picture = acq::TestPicture(c.identity + 11);
        rig.Start(picture.data());
        rig.ClearLog();
        kx::host::ClearDirtyReleases();
        std::fill(output.begin(), output.end(), 0xCC);
        ASSERT_EQ(NFP_CaptureImageEx(rig.device, 0x1A2, kKey, kIv, output.data(), 0x377), NFP_OK);
        EXPECT_EQ(kx::CurrentModel(), c.model);
        EXPECT_TRUE(GuardIntact());
        EXPECT_EQ(kx::host::DirtyReleases(), 0) << "a plain image was released unwiped";
        std::vector<uint8_t> plain = Decrypt(output.data(), NFP_CORRECTED_SIZE, kIv);
        EXPECT_EQ(plain, ExpectedCorrection(picture.data(), c.stream));
        // Register 50 gets the caller's low byte on every path.
        auto preamble = c.stream ? acq::StreamFramePreamble(0x1A2, 0x377)
                                 : acq::BlockFramePreamble(0x1A2, 0x377);
        auto script = rig.Script();
        ASSERT_GE(script.size(), preamble.size() + 3);
        EXPECT_EQ(std::vector<std::string>(script.begin(), script.begin() + 1 + preamble.size()),
                  acq::Join({acq::kIdentityRead, preamble}));
        EXPECT_EQ(script.back(), "close");
        if (!c.stream) {
            EXPECT_EQ(script[script.size() - 2], "read*62");
        }
        EXPECT_EQ(kx::host::LiveBlocks(), 0);
    }
}

TEST_F(ProtectedCapture, NullChainingValueIsZero) {
    ReaderRig rig('4');
    std::vector<uint8_t> picture = acq::TestPicture(5);
    rig.Start(picture.data());
    ASSERT_EQ(NFP_CaptureImageEx(rig.device, 0x80, kKey, nullptr, output.data(), 40), NFP_OK);
    EXPECT_EQ(Decrypt(output.data(), NFP_CORRECTED_SIZE, nullptr), ExpectedCorrection(picture.data(), false));
}

TEST_F(ProtectedCapture, WeakKeyFailsAfterTheCaptureWithOutputUntouched) {
    ReaderRig rig('5');
    rig.Start();
    rig.ClearLog();
    EXPECT_EQ(NFP_CaptureImageEx(rig.device, 0x80, kWeakKey, kIv, output.data(), 40), NFP_ERR_ENCRYPT);
    EXPECT_TRUE(Untouched());
    EXPECT_EQ(rig.Script().back(), "close");  // the reader was captured first
    EXPECT_EQ(kx::host::LiveBlocks(), 0);
}

TEST_F(ProtectedCapture, FailuresBeforeTheCipherLeaveOutputUntouched) {
    {
        ReaderRig rig('4');
        rig.Start();
        rig.ClearLog();
        kx::host::ClearDirtyReleases();
        rig.reader->AddFault(kx::REQ_MEMORY_READ, 0);
        int model = kx::CurrentModel();
        EXPECT_EQ(NFP_CaptureImageEx(rig.device, 0x80, kKey, kIv, output.data(), 40), NFP_ERR_GENERAL);
        EXPECT_EQ(rig.Script(), std::vector<std::string>{"mem7870+2!"});  // nothing else is sent
        EXPECT_EQ(kx::CurrentModel(), model);
        EXPECT_TRUE(Untouched());
    }
    {
        ReaderRig rig('5');
        rig.Start();
        rig.reader->AddFault(vreader::kReadCode, 3);
        EXPECT_EQ(NFP_CaptureImageEx(rig.device, 0x80, kKey, kIv, output.data(), 40), NFP_ERR_NO_IMAGE);
        EXPECT_EQ(rig.Script().back(), "close");
        EXPECT_TRUE(Untouched());
    }
    {
        ReaderRig rig('3');
        rig.Start();
        rig.reader->AddFault(kx::REQ_WRITE_REGISTER, 5);  // register 50
        rig.ClearLog();
        EXPECT_EQ(NFP_CaptureImageEx(rig.device, 0x80, kKey, kIv, output.data(), 40), NFP_ERR_WRITE_REGISTER);
        EXPECT_EQ(rig.Script().back(), "r50=40!");
        EXPECT_TRUE(Untouched());
    }
    kx::host::Reset();
    std::vector<std::string> before = kx::host::DebugLines();
    EXPECT_EQ(NFP_CaptureImageEx(kx::NoDevice(), 0, kKey, kIv, output.data(), 40), NFP_ERR_NO_DEVICE);
    EXPECT_TRUE(Untouched());
    std::vector<std::string> lines = kx::host::DebugLines();
    ASSERT_EQ(lines.size(), before.size() + 1);
    EXPECT_EQ(lines.back(), "NFP_CaptureImageEx \n");
    EXPECT_EQ(kx::host::LiveBlocks(), 0);
}

// Each heap block of the call fails in turn: the raw buffer, the block
// buffer, the corrected buffer, the correction's working image.
TEST_F(ProtectedCapture, EveryAllocationFailureHasItsAnswer) {
    struct Case {
        uint32_t nth;
        int result;
        bool written;
    } cases[] = {
        {1, NFP_ERR_NO_IMAGE_MEMORY, false},
        {2, NFP_ERR_GENERAL, false},  // block buffer: "Memory allocation error !"
        {3, NFP_ERR_NO_IMAGE_MEMORY, false},
        {4, NFP_ERR_GENERAL, true},   // correction: ciphertext of the cleared buffer
        {5, NFP_OK, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "allocation " << c.nth);
        ReaderRig rig('4');
        rig.Start();
        std::fill(output.begin(), output.end(), 0xCC);
        kx::host::FailAllocation(c.nth);
        EXPECT_EQ(NFP_CaptureImageEx(rig.device, 0x80, kKey, kIv, output.data(), 40), c.result);
        EXPECT_EQ(Untouched(), !c.written);
        EXPECT_TRUE(GuardIntact());
        EXPECT_EQ(kx::host::LiveBlocks(), 0);
        if (c.nth == 4) {
            std::vector<uint8_t> zeros(NFP_CORRECTED_SIZE, 0);
            EXPECT_EQ(Decrypt(output.data(), NFP_CORRECTED_SIZE, kIv), zeros);
        }
    }
}

}  // namespace
