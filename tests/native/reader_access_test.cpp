// Reader access and identity over an in-process virtual reader: the bytes
// on the wire, the address window, and what a failure leaves behind.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <vector>

#include "KX7300V20.h"
#include "control/requests.h"
#include "reader_fixture.h"
#include "seam/host_system.h"

namespace {

using kx::NoDevice;
using vreader::LogEntry;

class ReaderAccess : public VirtualReaderTest {
  protected:
    void Describe(vreader::Description *d) override {
        d->identity[0] = '4';
        memcpy(d->serial, "TV-0001", 7);
    }
    const LogEntry &Only() {
        EXPECT_EQ(reader_->LogCount(), 1u);
        return reader_->LogAt(reader_->LogCount() - 1);
    }
    std::vector<uint8_t> Input(const LogEntry &e) {
        return std::vector<uint8_t>(e.input, e.input + std::min(e.inputSize, vreader::kLogInputBytes));
    }

};

TEST_F(ReaderAccess, OpenAndCloseByIndex) {
    EXPECT_EQ(NFP_Open(1), NoDevice());  // nothing attached there
    int before = kx::host::OpenHandles();
    EXPECT_EQ(NFP_Close(NoDevice()), NFP_ERR_NO_DEVICE);
    EXPECT_EQ(kx::host::OpenHandles(), before);
    HANDLE second = NFP_Open(0);
    ASSERT_NE(second, NoDevice());
    EXPECT_EQ(NFP_Close(second), NFP_OK);
    EXPECT_EQ(NFP_Close(second), NFP_ERR_GENERAL);  // the system refuses a closed handle
    kx::host::Attach(12, reader_.get());
    HANDLE twelve = NFP_Open(12);  // two-digit index, no leading zeros
    EXPECT_NE(twelve, NoDevice());
    NFP_Close(twelve);
    EXPECT_EQ(reader_->LogCount(), 0u);
}

TEST_F(ReaderAccess, NoDeviceIsRefusedBeforeAnythingIsSent) {
    uint8_t buffer[32];
    memset(buffer, 0x5A, sizeof buffer);
    uint16_t count = 77;
    struct Case {
        const char *name;
        int result;
    } cases[] = {
        {"GetTelvaData", NFP_GetTelvaData(NoDevice(), buffer)},
        {"SetTelvaData", NFP_SetTelvaData(NoDevice(), buffer)},
        {"GetSerial", NFP_GetSerial(NoDevice(), buffer)},
        {"SetSerial", NFP_SetSerial(NoDevice(), buffer)},
        {"GetUserData", NFP_GetUserData(NoDevice(), buffer)},
        {"SetUserData", NFP_SetUserData(NoDevice(), buffer)},
        {"WriteRegister", kx::WriteRegister(NoDevice(), 1, 2)},
        {"CaptureOpen", kx::CaptureOpen(NoDevice())},
        {"CaptureArm", kx::CaptureArm(NoDevice())},
        {"TransferStart", kx::TransferStart(NoDevice())},
        {"CaptureClose", kx::CaptureClose(NoDevice())},
        // The handle test comes before the address tests.
        {"read outside window", kx::ReadParameterMemory(NoDevice(), 100, 0, 9000, buffer, &count)},
        {"write outside window", kx::WriteParameterMemory(NoDevice(), 100, 0, 9000, buffer)},
    };
    for (const Case &c : cases) EXPECT_EQ(c.result, NFP_ERR_NO_DEVICE) << c.name;
    EXPECT_EQ(NFP_GetDevType(NoDevice()), 0);
    EXPECT_EQ(reader_->LogCount(), 0u);
    EXPECT_EQ(count, 77);
    for (uint8_t b : buffer) ASSERT_EQ(b, 0x5A);
}

TEST_F(ReaderAccess, AddressWindow) {
    struct Case {
        uint16_t address, length;
        int result;
    } cases[] = {
        {5119, 1, NFP_ERR_ADDRESS},   {8192, 1, NFP_ERR_ADDRESS},
        {8191, 1, NFP_OK},            {8191, 2, NFP_ERR_RANGE},
        {5120, 3072, NFP_OK},         {5120, 3073, NFP_ERR_RANGE},
        {5119, 5000, NFP_ERR_ADDRESS}, // outside and too long: the address wins
        {0xFFFF, 0xFFFF, NFP_ERR_ADDRESS},
        {8000, 0xFFFF, NFP_ERR_RANGE}, // the end is formed in full width
        {6000, 0, NFP_OK},            // an empty read still goes to the driver
    };
    for (const Case &c : cases) {
        for (bool write : {false, true}) {
            reader_->ClearLog();
            std::vector<uint8_t> data(c.length, 0x11);
            uint16_t count = 0;
            int r = write ? kx::WriteParameterMemory(device_, c.address, 0, c.length, data.data())
                          : kx::ReadParameterMemory(device_, c.address, 0, c.length, data.data(), &count);
            EXPECT_EQ(r, c.result) << c.address << "+" << c.length << (write ? " write" : " read");
            EXPECT_EQ(reader_->LogCount(), c.result == NFP_OK ? 1u : 0u) << c.address << "+" << c.length;
        }
    }
}

TEST_F(ReaderAccess, ReadSendsTheRangeHeaderAndAsksForLengthBytes) {
    uint8_t out[300];
    uint16_t count = 0;
    ASSERT_EQ(kx::ReadParameterMemory(device_, 0x1EBE, 0xA1B2, 258, out, &count), NFP_OK);
    const LogEntry &e = Only();
    EXPECT_EQ(e.code, kx::REQ_MEMORY_READ);
    EXPECT_EQ(e.inputSize, 6u);
    EXPECT_EQ(Input(e), (std::vector<uint8_t>{0xBE, 0x1E, 0xB2, 0xA1, 0x02, 0x01}));
    EXPECT_EQ(e.outputSize, 258u);
    EXPECT_EQ(count, 258);
}

TEST_F(ReaderAccess, WriteSendsHeaderAndExactlyTheData) {
    uint8_t data[40];
    for (int i = 0; i < 40; ++i) data[i] = static_cast<uint8_t>(i + 1);
    ASSERT_EQ(kx::WriteParameterMemory(device_, 6000, 0, 40, data), NFP_OK);
    const LogEntry &e = Only();
    EXPECT_EQ(e.code, kx::REQ_MEMORY_WRITE);
    EXPECT_EQ(e.inputSize, 46u);
    EXPECT_EQ(e.outputSize, 0u);
    std::vector<uint8_t> expected = {0x70, 0x17, 0, 0, 40, 0};
    expected.insert(expected.end(), data, data + 40);
    EXPECT_EQ(Input(e), expected);
    EXPECT_EQ(memcmp(reader_->Memory() + 6000, data, 40), 0);
}

TEST_F(ReaderAccess, WriteRegisterSendsNumberThenValue) {
    ASSERT_EQ(kx::WriteRegister(device_, 38, 0xC7), NFP_OK);
    const LogEntry &e = Only();
    EXPECT_EQ(e.code, kx::REQ_WRITE_REGISTER);
    EXPECT_EQ(Input(e), (std::vector<uint8_t>{38, 0xC7}));
    EXPECT_EQ(e.outputSize, 0u);
    EXPECT_EQ(reader_->Register(38), 0xC7);
}

TEST_F(ReaderAccess, PlainRequestsAndTheirFailureCodes) {
    struct Case {
        int (*send)(HANDLE);
        uint32_t code;
        int failure;
    } cases[] = {
        {kx::CaptureOpen, kx::REQ_CAPTURE_OPEN, NFP_ERR_CAPTURE_OPEN},
        {kx::CaptureArm, kx::REQ_CAPTURE_ARM, NFP_ERR_CAPTURE_ARM},
        {kx::TransferStart, kx::REQ_TRANSFER_START, NFP_ERR_TRANSFER_START},
        {kx::CaptureClose, kx::REQ_CAPTURE_CLOSE, NFP_ERR_CAPTURE_ARM},
    };
    for (const Case &c : cases) {
        reader_->ClearLog();
        EXPECT_EQ(c.send(device_), NFP_OK);
        const LogEntry &e = Only();
        EXPECT_EQ(e.code, c.code);
        EXPECT_EQ(e.inputSize, 0u);
        EXPECT_EQ(e.outputSize, 0u);
        reader_->AddFault(c.code, 0);
        EXPECT_EQ(c.send(device_), c.failure);
    }
    reader_->AddFault(kx::REQ_WRITE_REGISTER, 0);
    EXPECT_EQ(kx::WriteRegister(device_, 1, 5), NFP_ERR_WRITE_REGISTER);
}

TEST_F(ReaderAccess, ShortReplyCopiesOnlyWhatArrived) {
    reader_->SetShortRead(10);
    uint8_t out[32];
    memset(out, 0xEE, sizeof out);
    uint16_t count = 0;
    ASSERT_EQ(kx::ReadParameterMemory(device_, 8160, 0, 32, out, &count), NFP_OK);
    EXPECT_EQ(count, 10);
    EXPECT_EQ(memcmp(out, "TV-0001\0\0\0", 10), 0);
    for (int i = 10; i < 32; ++i) ASSERT_EQ(out[i], 0xEE) << i;
    // The getters pass no count on, and a null count is allowed.
    memset(out, 0xEE, sizeof out);
    ASSERT_EQ(NFP_GetSerial(device_, out), NFP_OK);
    EXPECT_EQ(out[0], 'T');
    EXPECT_EQ(out[10], 0xEE);
}

TEST_F(ReaderAccess, ReplyClaimingMoreThanAskedIsCut) {
    kx::host::InflateReplies(5000);
    // Exact-size blocks, so a sanitizer sees any write past them.
    auto out = std::make_unique<uint8_t[]>(32);
    uint16_t count = 0;
    ASSERT_EQ(kx::ReadParameterMemory(device_, 8160, 0, 32, out.get(), &count), NFP_OK);
    EXPECT_EQ(count, 32);
    EXPECT_EQ(out[0], 'T');
}

TEST_F(ReaderAccess, FailedReadLeavesBufferAndCountUntouched) {
    reader_->AddFault(kx::REQ_MEMORY_READ, 0);
    uint8_t out[32];
    memset(out, 0x3C, sizeof out);
    uint16_t count = 999;
    EXPECT_EQ(kx::ReadParameterMemory(device_, 8160, 0, 32, out, &count), NFP_ERR_MEMORY_READ);
    EXPECT_EQ(count, 999);
    for (uint8_t b : out) ASSERT_EQ(b, 0x3C);
    EXPECT_EQ(NFP_GetSerial(device_, out), NFP_ERR_MEMORY_READ);
    EXPECT_EQ(NFP_GetUserData(device_, out), NFP_ERR_MEMORY_READ);
    EXPECT_EQ(NFP_GetTelvaData(device_, out), NFP_ERR_MEMORY_READ);
    for (uint8_t b : out) ASSERT_EQ(b, 0x3C);
    EXPECT_EQ(NFP_GetDevType(device_), 0);  // folded into "no model"
}

TEST_F(ReaderAccess, FailedWritesAnswerTheWriteCode) {
    reader_->AddFault(kx::REQ_MEMORY_WRITE, 2);  // only the second write fails
    uint8_t data[32] = {};
    EXPECT_EQ(NFP_SetSerial(device_, data), NFP_OK);
    EXPECT_EQ(NFP_SetUserData(device_, data), NFP_ERR_MEMORY_WRITE);
    EXPECT_EQ(NFP_SetTelvaData(device_, data), NFP_OK);
}

TEST_F(ReaderAccess, ModelCodeFromIdentityByteZero) {
    struct Case {
        uint8_t identity;
        int model;
    } cases[] = {{'3', 3}, {'4', 4}, {'5', 5}, {'6', 3}, {0, 3}, {'A', 3}};
    for (const Case &c : cases) {
        const uint8_t identity[2] = {c.identity, 0x99};
        ASSERT_EQ(NFP_SetTelvaData(device_, identity), NFP_OK);
        EXPECT_EQ(NFP_GetDevType(device_), c.model) << int(c.identity);
    }
    reader_->ClearLog();
    NFP_GetDevType(device_);
    const LogEntry &e = Only();
    EXPECT_EQ(Input(e), (std::vector<uint8_t>{0xBE, 0x1E, 0, 0, 2, 0}));
}

TEST_F(ReaderAccess, IdentityAreasRoundTripAtTheirAddresses) {
    struct Area {
        int (*set)(HANDLE, const unsigned char *);
        int (*get)(HANDLE, unsigned char *);
        uint16_t address, size;
    } areas[] = {
        {NFP_SetSerial, NFP_GetSerial, 8160, 32},
        {NFP_SetUserData, NFP_GetUserData, 8128, 32},
        {NFP_SetTelvaData, NFP_GetTelvaData, 7870, 2},
    };
    for (const Area &a : areas) {
        uint8_t data[32] = {}, back[32];
        data[0] = 0xA0;
        data[a.size - 1] = 0x0B;  // zero bytes in between still travel
        reader_->ClearLog();
        ASSERT_EQ(a.set(device_, data), NFP_OK);
        ASSERT_EQ(a.get(device_, back), NFP_OK);
        EXPECT_EQ(memcmp(back, data, a.size), 0) << a.address;
        ASSERT_EQ(reader_->LogCount(), 2u);
        const LogEntry &w = reader_->LogAt(0), &r = reader_->LogAt(1);
        EXPECT_EQ(w.inputSize, 6u + a.size);
        EXPECT_EQ(kx::GetWord(w.input), a.address);
        EXPECT_EQ(kx::GetWord(w.input + 4), a.size);
        EXPECT_EQ(r.outputSize, a.size);
        EXPECT_EQ(kx::GetWord(r.input), a.address);
    }
}

TEST(ReaderVersion, IsFixedWithoutAReader) {
    kx::host::Reset();
    unsigned short version = 0;
    EXPECT_EQ(NFP_GetVersion(&version), NFP_OK);
    EXPECT_EQ(version, 256);
}

}  // namespace
