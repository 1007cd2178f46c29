// The smart-card channel: address and auxiliary word passed through, the
// exact bytes on the wire, short and inflated replies, failures that leave
// the caller's buffer alone, and lengths beyond the library's records.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <vector>

#include "KX7300V20.h"
#include "reader_fixture.h"
#include "seam/host_system.h"

namespace {

using kx::NoDevice;
using vreader::LogEntry;

class SmartCard : public VirtualReaderTest {
  protected:
    static std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
        std::vector<uint8_t> data(size);
        for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
        return data;
    }
    static std::vector<uint8_t> Header(uint16_t address, uint16_t auxiliary, uint16_t length) {
        return {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                static_cast<uint8_t>(auxiliary), static_cast<uint8_t>(auxiliary >> 8),
                static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
    }
    static std::vector<uint8_t> Logged(const LogEntry &e, size_t bytes) {
        return std::vector<uint8_t>(e.input, e.input + bytes);
    }
};

TEST_F(SmartCard, WriteThenReadRoundTrip) {
    struct Case {
        uint16_t address, auxiliary, length;
    } cases[] = {
        {0x0000, 0x0000, 1},
        {0x1234, 0xABCD, 40},
        {0xFFF0, 0x8001, 300},   // the card's own addressing, wrapping in its store
        {0x0100, 0xFFFF, 4100},  // the longest read
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.address << "/" << c.auxiliary << "/" << c.length);
        std::vector<uint8_t> data = Pattern(c.length, static_cast<uint8_t>(c.address));
        reader_->ClearLog();
        ASSERT_EQ(NFP_WriteScard(device_, c.address, c.auxiliary, c.length, data.data()), NFP_OK);
        ASSERT_EQ(reader_->LogCount(), 1u);
        const LogEntry &w = reader_->LogAt(0);
        EXPECT_EQ(w.code, kx::REQ_SCARD_WRITE);
        EXPECT_EQ(w.inputSize, 6u + c.length);
        EXPECT_EQ(w.outputSize, 0u);
        std::vector<uint8_t> expected = Header(c.address, c.auxiliary, c.length);
        expected.insert(expected.end(), data.begin(), data.end());
        size_t kept = std::min<size_t>(expected.size(), vreader::kLogInputBytes);
        EXPECT_EQ(Logged(w, kept), std::vector<uint8_t>(expected.begin(), expected.begin() + kept));
        EXPECT_EQ(reader_->ScardAddress(), c.address);
        EXPECT_EQ(reader_->ScardAuxiliary(), c.auxiliary);

        // An exact-size buffer: a copy past it is an overrun the sanitizer sees.
        std::vector<uint8_t> back(c.length, 0);
        uint16_t count = 0;
        uint16_t auxiliary = static_cast<uint16_t>(c.auxiliary ^ 0x5A5A);
        ASSERT_EQ(NFP_ReadScard(device_, c.address, auxiliary, c.length, back.data(), &count), NFP_OK);
        ASSERT_EQ(reader_->LogCount(), 2u);
        const LogEntry &r = reader_->LogAt(1);
        EXPECT_EQ(r.code, kx::REQ_SCARD_READ);
        EXPECT_EQ(r.inputSize, 6u);
        EXPECT_EQ(r.outputSize, c.length);
        EXPECT_EQ(Logged(r, 6), Header(c.address, auxiliary, c.length));
        EXPECT_EQ(reader_->ScardAuxiliary(), auxiliary);
        EXPECT_EQ(count, c.length);
        EXPECT_EQ(back, data);
    }
}

TEST_F(SmartCard, TheLongestWriteFillsTheWholeRecord) {
    const uint16_t length = 8194;
    std::vector<uint8_t> data = Pattern(length, 3);
    ASSERT_EQ(NFP_WriteScard(device_, 0x2000, 7, length, data.data()), NFP_OK);
    EXPECT_EQ(reader_->LogAt(0).inputSize, 6u + length);
    EXPECT_EQ(memcmp(reader_->Scard() + 0x2000, data.data(), length), 0);
}

TEST_F(SmartCard, EmptyTransfersSendTheHeaderAlone) {
    ASSERT_EQ(NFP_WriteScard(device_, 0x0A0B, 0x0C0D, 0, nullptr), NFP_OK);
    uint16_t count = 99;
    ASSERT_EQ(NFP_ReadScard(device_, 0x0A0B, 0x0C0D, 0, nullptr, &count), NFP_OK);
    ASSERT_EQ(reader_->LogCount(), 2u);
    EXPECT_EQ(reader_->LogAt(0).inputSize, 6u);
    EXPECT_EQ(Logged(reader_->LogAt(0), 6), Header(0x0A0B, 0x0C0D, 0));
    EXPECT_EQ(reader_->LogAt(1).outputSize, 0u);
    EXPECT_EQ(count, 0);
}

TEST_F(SmartCard, ShortReplyFillsOnlyWhatArrived) {
    std::vector<uint8_t> data = Pattern(32, 9);
    ASSERT_EQ(NFP_WriteScard(device_, 500, 0, 32, data.data()), NFP_OK);
    reader_->SetShortRead(10);
    uint8_t back[32];
    memset(back, 0xEE, sizeof back);
    uint16_t count = 0;
    ASSERT_EQ(NFP_ReadScard(device_, 500, 0, 32, back, &count), NFP_OK);
    EXPECT_EQ(count, 10);
    EXPECT_EQ(memcmp(back, data.data(), 10), 0);
    for (int i = 10; i < 32; ++i) ASSERT_EQ(back[i], 0xEE) << i;
    // No count wanted.
    memset(back, 0xEE, sizeof back);
    ASSERT_EQ(NFP_ReadScard(device_, 500, 0, 32, back, nullptr), NFP_OK);
    EXPECT_EQ(memcmp(back, data.data(), 10), 0);
    EXPECT_EQ(back[10], 0xEE);
}

TEST_F(SmartCard, ReplyClaimingMoreThanAskedIsCut) {
    kx::host::InflateReplies(64);
    std::vector<uint8_t> back(16, 0);  // exact size
    uint16_t count = 0;
    ASSERT_EQ(NFP_ReadScard(device_, 0, 0, 16, back.data(), &count), NFP_OK);
    EXPECT_EQ(count, 16);
}

TEST_F(SmartCard, FailuresLeaveBufferAndCountAlone) {
    uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t back[8];
    memset(back, 0x5A, sizeof back);
    uint16_t count = 77;

    EXPECT_EQ(NFP_WriteScard(NoDevice(), 1, 2, 8, data), NFP_ERR_NO_DEVICE);
    EXPECT_EQ(NFP_ReadScard(NoDevice(), 1, 2, 8, back, &count), NFP_ERR_NO_DEVICE);
    EXPECT_EQ(reader_->LogCount(), 0u);

    reader_->AddFault(kx::REQ_SCARD_WRITE, 0);
    reader_->AddFault(kx::REQ_SCARD_READ, 0);
    EXPECT_EQ(NFP_WriteScard(device_, 1, 2, 8, data), NFP_ERR_SCARD_WRITE);
    EXPECT_EQ(NFP_ReadScard(device_, 1, 2, 8, back, &count), NFP_ERR_SCARD_READ);
    EXPECT_EQ(reader_->LogCount(), 2u);  // both were sent and refused
    EXPECT_EQ(count, 77);
    for (uint8_t b : back) ASSERT_EQ(b, 0x5A);
}

// Beyond the 8194 data bytes of the write record and the 4100 bytes of the
// reply buffer a transfer is refused with its own failure code, and nothing
// is sent: the record and the buffer would otherwise be overrun.
TEST_F(SmartCard, LengthsBeyondTheRecordsAreRefusedUnsent) {
    for (uint16_t length : {uint16_t(8195), uint16_t(20000), uint16_t(65535)}) {
        std::vector<uint8_t> data(length, 0x42);
        EXPECT_EQ(NFP_WriteScard(device_, 0, 0, length, data.data()), NFP_ERR_SCARD_WRITE) << length;
    }
    for (uint16_t length : {uint16_t(4101), uint16_t(8194), uint16_t(65535)}) {
        std::vector<uint8_t> back(length, 0x5A);
        uint16_t count = 77;
        EXPECT_EQ(NFP_ReadScard(device_, 0, 0, length, back.data(), &count), NFP_ERR_SCARD_READ) << length;
        EXPECT_EQ(count, 77);
        for (uint8_t b : back) ASSERT_EQ(b, 0x5A);
    }
    EXPECT_EQ(reader_->LogCount(), 0u);
    for (uint32_t i = 0; i < vreader::kScardSize; ++i) ASSERT_EQ(reader_->Scard()[i], 0) << i;
}

}  // namespace
