// Raw frame capture: NFP_Capture on readers of each model, the block
// mapping, every failure row with what the reader saw afterwards, and a
// fault loop that fails each request, read and heap block in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "acquisition/capture.h"
#include "acquisition_support.h"
#include "control/requests.h"

namespace {

using acq::Join;
using acq::ReaderRig;
using Names = std::vector<std::string>;

constexpr uint8_t kUntouched = 0xEE;

TEST(Capture, EveryModelGivesThePicture) {
    std::vector<uint8_t> picture = acq::TestPicture(21);
    struct Case {
        char model;
        int currentModel;
        int columns;  // the stream never writes 398 and 399
        Names script;
    } cases[] = {
        {'3', 3, 398, Join({acq::kIdentityRead, acq::StreamFramePreamble(0x34), {"read*61", "close"}})},
        {'7', 3, 398, Join({acq::kIdentityRead, acq::StreamFramePreamble(0x34), {"read*61", "close"}})},
        {'4', 4, 400, Join({acq::kIdentityRead, acq::BlockFramePreamble(0x34), {"read*62", "close"}})},
        {'5', 5, 400, Join({acq::kIdentityRead, acq::BlockFramePreamble(0x34), {"read*62", "close"}})},
    };
    for (const Case &c : cases) {
        ReaderRig rig(c.model);
        rig.Start(picture.data());
        std::vector<uint8_t> raw(acq::kRawSize, kUntouched);
        EXPECT_EQ(NFP_Capture(rig.device, 0x1234, raw.data()), NFP_OK) << c.model;
        EXPECT_EQ(kx::CurrentModel(), c.currentModel) << c.model;
        EXPECT_EQ(rig.Script(), c.script) << c.model;
        EXPECT_TRUE(acq::SameColumns(raw.data(), picture.data(), 302, 0, c.columns)) << c.model;
        for (int r = 0; r < 302; ++r)
            for (int col = c.columns; col < 400; ++col) ASSERT_EQ(raw[400 * r + col], kUntouched);
        EXPECT_EQ(kx::host::LiveBlocks(), 0);
        EXPECT_TRUE(kx::host::DebugLines().empty());
    }
}

TEST(Capture, RegisterValuesGoOutAsTheirLowByte) {
    ReaderRig rig('4');
    rig.Start();
    std::vector<uint8_t> raw(acq::kRawSize);
    EXPECT_EQ(NFP_Capture(rig.device, -1, raw.data()), NFP_OK);
    EXPECT_EQ(rig.reader->Register(38), 255);
    EXPECT_EQ(kx::CaptureBlockFrame(rig.device, 0x101, raw.data(), 0x2FF), 0);
    EXPECT_EQ(rig.reader->Register(38), 1);
    EXPECT_EQ(rig.reader->Register(50), 255);
}

TEST(Capture, BlockMapping) {
    // A block where only the bytes of three pixels stand out, and each
    // one's unused companion byte differs.
    std::vector<uint8_t> block(62 * 4096, 0);
    block[142] = 10;
    block[143] = 200;
    block[940] = 20;
    block[941] = 201;
    block[974] = 30;
    block[975] = 202;
    block[142 + 832 * 301 + 798] = 40;  // (301, 399), the last byte used
    ReaderRig rig('5');
    rig.replay = block;
    rig.Start();
    std::vector<uint8_t> raw(acq::kRawSize, kUntouched);
    ASSERT_EQ(NFP_Capture(rig.device, 0, raw.data()), NFP_OK);
    EXPECT_EQ(raw[0], 255 - 10);
    EXPECT_EQ(raw[399], 255 - 20);
    EXPECT_EQ(raw[400], 255 - 30);
    EXPECT_EQ(raw[acq::kRawSize - 1], 255 - 40);
    EXPECT_EQ(raw[1], 255);
    EXPECT_EQ(raw[401], 255);
}

TEST(Capture, ShortBlockReadsLeaveZerosNotHeapBytes) {
    // Each read fills only the first 1000 bytes of its 4096-byte piece.
    // The rest of the working buffer was cleared, so those pixels are 255
    // (never the host heap's 0xA5 filling, complemented 0x5A).
    std::vector<uint8_t> picture = acq::TestPicture(22);
    ReaderRig full('4');
    full.Start(picture.data());
    ASSERT_EQ(kx::TransferStart(full.device), NFP_OK);
    std::vector<uint8_t> stream(62 * 1000);
    for (size_t at = 0; at < stream.size(); at += 1000) {
        uint32_t got = 0;
        ASSERT_TRUE(kx::System().read(full.device, stream.data() + at, 1000, &got));
    }
    ReaderRig rig('4');
    rig.description.shortRead = 1000;
    rig.Start(picture.data());
    std::vector<uint8_t> raw(acq::kRawSize, kUntouched);
    ASSERT_EQ(NFP_Capture(rig.device, 0, raw.data()), NFP_OK);
    for (int r = 0; r < 302; ++r) {
        for (int c = 0; c < 400; ++c) {
            const size_t at = 142 + 832 * r + 2 * c;
            const size_t piece = at / 4096, within = at % 4096;
            const int delivered = within < 1000 ? stream[piece * 1000 + within] : 0;
            ASSERT_EQ(raw[400 * r + c], 255 - delivered) << r << ", " << c;
        }
    }
}

// Fails one log entry (a request or a read) of a capture, then checks the
// result and that the reader saw exactly the requests up to the failing
// one, plus CaptureClose where the failure table has it.
struct CapturePath {
    const char *name;
    char model;
    std::function<int(HANDLE)> run;
};

int ExpectedFor(uint32_t code) {
    switch (code) {
        case kx::REQ_CAPTURE_OPEN: return NFP_ERR_CAPTURE_OPEN;
        case kx::REQ_CAPTURE_ARM: return NFP_ERR_CAPTURE_ARM;
        case kx::REQ_WRITE_REGISTER: return NFP_ERR_WRITE_REGISTER;
        case kx::REQ_TRANSFER_START: return NFP_ERR_TRANSFER_START;
        case vreader::kReadCode: return NFP_ERR_NO_IMAGE;
        default: return NFP_OK;  // CaptureClose: its answer is not examined
    }
}

std::vector<CapturePath> Paths() {
    static std::vector<uint8_t> out(302 * 400 + 400);
    auto capture = [](HANDLE d) { return NFP_Capture(d, 9, out.data()); };
    auto band = [](HANDLE d) { return NFP_CapturePart(d, 9, 1, 40, 140, out.data()); };
    auto corrected = [](HANDLE d) { return NFP_CaptureImage(d, 9, out.data()); };
    return {
        {"NFP_Capture model 3", '3', capture},  {"NFP_Capture model 4", '4', capture},
        {"NFP_Capture model 5", '5', capture},  {"NFP_CapturePart model 3", '3', band},
        {"NFP_CapturePart model 5", '5', band}, {"NFP_CaptureImage model 4", '4', corrected},
        {"NFP_CaptureImage model 3", '3', corrected},
    };
}

TEST(CaptureFaults, EachRequestAndReadFailsInTurn) {
    std::vector<uint8_t> picture = acq::TestPicture(23);
    for (const CapturePath &path : Paths()) {
        ReaderRig clean(path.model);
        clean.Start(picture.data());
        ASSERT_EQ(path.run(clean.device), NFP_OK) << path.name;
        const Names cleanScript = acq::Script(*clean.reader, false);
        std::vector<uint32_t> codes;
        for (uint32_t i = 0; i < clean.reader->LogCount(); ++i) codes.push_back(clean.reader->LogAt(i).code);
        const bool block = path.model != '3';

        for (size_t n = 0; n < codes.size(); ++n) {
            const uint32_t occurrence = static_cast<uint32_t>(std::count(codes.begin(), codes.begin() + n + 1, codes[n]));
            ReaderRig rig(path.model);
            rig.Start(picture.data());
            rig.reader->AddFault(codes[n], occurrence);
            const int result = path.run(rig.device);
            const Names script = acq::Script(*rig.reader, false);
            const std::string where = std::string(path.name) + ", entry " + std::to_string(n) +
                                      " " + cleanScript[n];
            EXPECT_EQ(kx::host::LiveBlocks(), 0) << where;
            if (codes[n] == kx::REQ_MEMORY_READ) {
                // Identity unreadable: NFP_Capture goes the model-3 way,
                // the band and protected-style paths refuse with -1.
                EXPECT_EQ(script[0], cleanScript[0] + "!") << where;
                if (std::string(path.name).find("Part") != std::string::npos) {
                    EXPECT_EQ(result, NFP_ERR_GENERAL) << where;
                    EXPECT_EQ(script.size(), 1u) << where;
                } else {
                    EXPECT_EQ(kx::CurrentModel(), 0) << where;
                    EXPECT_EQ(result, block ? NFP_ERR_NO_IMAGE : NFP_OK) << where;
                }
                continue;
            }
            EXPECT_EQ(result, ExpectedFor(codes[n])) << where;
            Names expected(cleanScript.begin(), cleanScript.begin() + n);
            if (codes[n] == kx::REQ_CAPTURE_CLOSE) {
                expected = cleanScript;
                expected.back() += "!";
            } else {
                expected.push_back(cleanScript[n] + "!");
                if (codes[n] == vreader::kReadCode) expected.push_back("close");
            }
            EXPECT_EQ(script, expected) << where;
            const bool readFailed = codes[n] == vreader::kReadCode;
            EXPECT_EQ(kx::host::DebugLines(),
                      readFailed && block ? Names{"ImageData can not read !"} : Names{})
                << where;
        }
    }
}

TEST(CaptureFaults, EachHeapBlockFailsInTurn) {
    std::vector<uint8_t> picture = acq::TestPicture(24);
    for (const CapturePath &path : Paths()) {
        // Count the blocks a clean run takes.
        int blocks = 0;
        {
            ReaderRig clean(path.model);
            clean.Start(picture.data());
            for (; blocks < 8; ++blocks) {
                kx::host::FailAllocation(blocks + 1);
                clean.ClearLog();
                if (path.run(clean.device) == NFP_OK) break;
            }
            kx::host::FailAllocation(0);
        }
        const bool corrected = std::string(path.name).find("Image") != std::string::npos;
        const bool block = path.model != '3';
        EXPECT_EQ(blocks, (block ? 1 : 0) + (corrected ? 2 : 0)) << path.name;
        for (int n = 1; n <= blocks; ++n) {
            ReaderRig rig(path.model);
            rig.Start(picture.data());
            kx::host::FailAllocation(n);
            const int result = path.run(rig.device);
            const Names script = rig.Script();
            const std::string where = std::string(path.name) + ", block " + std::to_string(n);
            EXPECT_EQ(kx::host::LiveBlocks(), 0) << where;
            if (corrected && n == 1) {
                // The raw buffer: nothing reaches the reader.
                EXPECT_EQ(result, NFP_ERR_NO_IMAGE_MEMORY) << where;
                EXPECT_TRUE(script.empty()) << where;
            } else if (block && n == (corrected ? 2 : 1)) {
                // The block buffer: after TransferStart, no read, no close.
                EXPECT_EQ(result, NFP_ERR_GENERAL) << where;
                EXPECT_EQ(script.back(), "start") << where;
                EXPECT_EQ(kx::host::DebugLines(), Names{"Memory allocation error !"}) << where;
            } else {
                // The correction's working image: the capture is complete.
                EXPECT_EQ(result, NFP_ERR_GENERAL) << where;
                EXPECT_EQ(script.back(), "close") << where;
                EXPECT_TRUE(kx::host::DebugLines().empty()) << where;
            }
        }
    }
}

TEST(Capture, NoDeviceSendsNothing) {
    ReaderRig rig('4');
    rig.Start();
    std::vector<uint8_t> raw(acq::kRawSize, kUntouched);
    kx::SetCurrentModel(5);
    EXPECT_EQ(NFP_Capture(kx::NoDevice(), 0, raw.data()), NFP_ERR_NO_DEVICE);
    EXPECT_EQ(kx::CaptureBlockFrame(kx::NoDevice(), 0, raw.data(), 40), NFP_ERR_NO_DEVICE);
    EXPECT_EQ(NFP_CapturePart(kx::NoDevice(), 0, 1, 0, 10, raw.data()), NFP_ERR_NO_DEVICE);
    EXPECT_EQ(NFP_CaptureImage(kx::NoDevice(), 0, raw.data()), NFP_ERR_NO_DEVICE);
    EXPECT_EQ(kx::CurrentModel(), 5);  // the handle test comes first
    EXPECT_EQ(rig.reader->LogCount(), 0u);
    EXPECT_EQ(kx::host::LiveBlocks(), 0);
    for (uint8_t b : raw) ASSERT_EQ(b, kUntouched);
}

TEST(Capture, BlockReadFailureStillAnswersNoImage) {
    for (char model : {'4', '5'}) {
        ReaderRig rig(model);
        rig.description.faults[0] = {vreader::kReadCode, 0, 0};  // every read fails
        rig.description.faultCount = 1;
        rig.Start();
        std::vector<uint8_t> raw(acq::kRawSize, kUntouched);
        EXPECT_EQ(NFP_Capture(rig.device, 0, raw.data()), NFP_ERR_NO_IMAGE) << model;
        EXPECT_EQ(rig.Script(), Join({acq::kIdentityRead, acq::BlockFramePreamble(0), {"read!", "close"}}));
        for (uint8_t b : raw) ASSERT_EQ(b, kUntouched);
    }
}

TEST(Capture, CurrentModelFollowsTheLastCapture) {
    std::vector<uint8_t> out(302 * 400 + 400);
    struct Step {
        char model;
        bool part;
        bool identityFails;
        int expected;
    } steps[] = {
        {'5', false, false, 5}, {'3', false, false, 3}, {'4', true, false, 4},
        {'5', false, true, 0},  // NFP_Capture: identity unreadable, model 0
        {'5', true, false, 5},  {'4', true, true, 5},   // NFP_CapturePart leaves it
        {'9', true, false, 3},  {'4', false, false, 4},
    };
    for (const Step &s : steps) {
        ReaderRig rig(s.model);
        rig.Start();
        if (s.identityFails) rig.reader->AddFault(kx::REQ_MEMORY_READ, 0);
        if (s.part)
            NFP_CapturePart(rig.device, 0, 1, 0, 20, out.data());
        else
            NFP_Capture(rig.device, 0, out.data());
        EXPECT_EQ(kx::CurrentModel(), s.expected) << s.model << (s.part ? " part" : "");
    }
}

}  // namespace
