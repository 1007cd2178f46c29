// Partial capture: the band registers, both preambles with and without
// CaptureArm, the block band's buffer and reads for every kind of height,
// and the model-3 band stored at its relative line numbers.
#include <gtest/gtest.h>

#include <limits.h>

#include <memory>
#include <string>
#include <vector>

#include "acquisition/capture.h"
#include "acquisition_support.h"
#include "model/image_file.h"

namespace {

using acq::Join;
using acq::ReaderRig;
using Names = std::vector<std::string>;

constexpr uint8_t kUntouched = 0xEE;
const Names kIdentity = acq::kIdentityRead;

Names StreamBandPreamble(int r38, bool arm, int r16, int r17) {
    Names n = {"open"};
    if (arm) n.push_back("arm");
    Names rest = {"r16=" + std::to_string(r16), "r17=" + std::to_string(r17), "r37=0",
                  "r38=" + std::to_string(r38), "r39=0", "r1=5", "r2=2", "start"};
    n.insert(n.end(), rest.begin(), rest.end());
    return n;
}

Names BlockBandPreamble(int r38, bool arm, int r16, int r17) {
    Names n = {"open", "r33=4"};
    if (arm) n.push_back("arm");
    Names rest = {"r16=" + std::to_string(r16), "r17=" + std::to_string(r17), "r37=0",
                  "r38=" + std::to_string(r38), "r39=0", "r1=5", "r50=40", "r2=2", "start"};
    n.insert(n.end(), rest.begin(), rest.end());
    return n;
}

TEST(PartialCapture, BandRegisters) {
    struct Case {
        int start;
        int stream16, stream17, block16, block17;
    } cases[] = {
        {0, 0, 0, 0, 6},       {250, 0, 250, 0, 0},     {300, 1, 44, 1, 50},
        {255, 0, 255, 0, 5},   {65535, 255, 255, 255, 5}, {65536, 0, 0, 0, 6},
        // Negative lines: quotient toward zero, remainder with the dividend's sign.
        {-1, 0, 255, 0, 5},    {-257, 255, 255, 255, 5},
        {INT_MAX, 255, 255, 255, 5},  // start + 6 formed without overflow
    };
    for (const Case &c : cases) {
        EXPECT_EQ(kx::BandRegister16(c.start), c.stream16) << c.start;
        EXPECT_EQ(kx::BandRegister17(c.start, false), c.stream17) << c.start;
        EXPECT_EQ(kx::BandRegister17(c.start, true), c.block17) << c.start;
    }
    // And on the wire, with and without CaptureArm.
    for (bool arm : {true, false}) {
        std::vector<uint8_t> out(400 * 400);
        ReaderRig three('3');
        three.Start();
        EXPECT_EQ(NFP_CapturePart(three.device, 0x199, arm, 300, 301, out.data()), NFP_OK);
        EXPECT_EQ(three.Script(), Join({kIdentity, StreamBandPreamble(0x99, arm, 1, 44), {"read", "close"}}));
        ReaderRig five('5');
        five.Start();
        EXPECT_EQ(NFP_CapturePart(five.device, 0x199, arm, 300, 301, out.data()), NFP_OK);
        EXPECT_EQ(five.Script(), Join({kIdentity, BlockBandPreamble(0x99, arm, 1, 50), {"close"}}));
    }
}

TEST(PartialCapture, BlockBandSizesAndReads) {
    struct Case {
        int height;
        int64_t size;
        int64_t pieces;
    } cases[] = {
        {302, 256474, 62}, {100, 86612, 21}, {1, 3363, 0}, {0, 2522, 0}, {-3, 0, 0},
        {-4, -840, 0},     {144, 123612, 30},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(kx::BlockBandBufferSize(c.height), c.size) << c.height;
        EXPECT_EQ(kx::BlockBandPieces(c.height), c.pieces) << c.height;
    }
    // Heights whose last row lies beyond the bytes the reads fill.
    std::vector<int> beyond;
    for (int h = 1; h <= 400; ++h)
        if (142 + 832 * (h - 1) + 800 > kx::BlockBandPieces(h) * 4096) beyond.push_back(h);
    ASSERT_EQ(beyond.size(), 37u);
    EXPECT_EQ(std::vector<int>(beyond.begin(), beyond.begin() + 5), (std::vector<int>{1, 5, 6, 10, 11}));
    EXPECT_EQ(std::vector<int>(beyond.end() - 5, beyond.end()), (std::vector<int>{123, 128, 133, 138, 143}));
    // In 32 bits (H + 3) * 253952 wraps beyond H = 8453; in 64 it does not.
    EXPECT_EQ(kx::BlockBandBufferSize(17000), int64_t(17003) * 253952 / 302);
    EXPECT_GT(kx::BlockBandBufferSize(17000), kx::BlockBandPieces(17000) * 4096);
}

class BlockBand : public ::testing::Test {
  protected:
    void SetUp() override {
        rig_.Start(picture_.data());
        ASSERT_EQ(NFP_Capture(rig_.device, 3, frame_.data()), NFP_OK);
        rig_.ClearLog();
        kx::host::Reset();
        kx::host::Attach(0, rig_.reader.get());
        rig_.device = NFP_Open(0);
    }
    // The band into an exact-size heap area with guard bytes behind it.
    int Capture(int start, int end, int arm = 1) {
        const int height = end - start;
        const size_t rows = height > 0 ? static_cast<size_t>(height) : 0;
        area_.assign(rows * 400 + kGuard, kUntouched);
        return NFP_CapturePart(rig_.device, 3, arm, start, end, area_.data());
    }
    bool GuardIntact(size_t rows) const {
        for (size_t i = rows * 400; i < area_.size(); ++i)
            if (area_[i] != kUntouched) return false;
        return true;
    }
    static constexpr size_t kGuard = 400;
    ReaderRig rig_{'5'};
    std::vector<uint8_t> picture_ = acq::TestPicture(31);
    std::vector<uint8_t> frame_ = std::vector<uint8_t>(acq::kRawSize);
    std::vector<uint8_t> area_;
};

TEST_F(BlockBand, FullHeightMatchesAFrameCapture) {
    // Start line 0 is sensor line 6: the reader sends rows from 0 on.
    ASSERT_EQ(Capture(0, 302), NFP_OK);
    EXPECT_EQ(kx::host::LastAllocationSize(), 256474u);
    EXPECT_EQ(rig_.Script(), Join({kIdentity, BlockBandPreamble(3, true, 0, 6), {"read*62", "close"}}));
    EXPECT_TRUE(std::equal(frame_.begin(), frame_.end(), area_.begin()));
    EXPECT_TRUE(GuardIntact(302));
    EXPECT_EQ(kx::CurrentModel(), 5);
}

TEST_F(BlockBand, HundredRows) {
    ASSERT_EQ(Capture(50, 150, 0), NFP_OK);
    EXPECT_EQ(kx::host::LastAllocationSize(), 86612u);
    EXPECT_EQ(rig_.Script(), Join({kIdentity, BlockBandPreamble(3, false, 0, 56), {"read*21", "close"}}));
    EXPECT_TRUE(std::equal(area_.begin(), area_.begin() + 100 * 400, frame_.begin() + 50 * 400));
    EXPECT_TRUE(GuardIntact(100));
}

TEST_F(BlockBand, RowsBeyondTheReadsAreBlankNotHeapBytes) {
    // H = 1: no read at all, the one row comes from the cleared buffer.
    // H = 143: 29 reads; row 142 ends past them.
    for (int height : {1, 11, 143}) {
        ASSERT_EQ(Capture(20, 20 + height), NFP_OK) << height;
        const int64_t filled = kx::BlockBandPieces(height) * 4096;
        for (int n = 0; n < height; ++n) {
            for (int c = 0; c < 400; ++c) {
                const int64_t at = 142 + 832 * n + 2 * c;
                const int expected = at < filled ? frame_[400 * (20 + n) + c] : 255;
                ASSERT_EQ(area_[400 * n + c], expected) << height << ": " << n << ", " << c;
            }
        }
        EXPECT_TRUE(GuardIntact(height));
    }
}

TEST_F(BlockBand, HeightsOfZeroAndBelow) {
    struct Case {
        int height;
        int result;
        Names after;  // after the preamble
        Names debug;
    } cases[] = {
        {0, NFP_OK, {"close"}, {}},
        {-2, NFP_OK, {"close"}, {}},
        {-3, NFP_OK, {"close"}, {}},  // an empty buffer, still obtained
        {-4, NFP_ERR_GENERAL, {}, {"Memory allocation error !"}},
        {INT_MIN + 10, NFP_ERR_GENERAL, {}, {"Memory allocation error !"}},
    };
    for (const Case &c : cases) {
        kx::host::Reset();
        kx::host::Attach(0, rig_.reader.get());
        rig_.device = NFP_Open(0);
        rig_.ClearLog();
        const size_t before = kx::host::LastAllocationSize();
        area_.assign(kGuard, kUntouched);
        const int end = static_cast<int>(static_cast<int64_t>(c.height) + 100);
        EXPECT_EQ(NFP_CapturePart(rig_.device, 3, 1, 100, end, area_.data()), c.result) << c.height;
        EXPECT_EQ(rig_.Script(), Join({kIdentity, BlockBandPreamble(3, true, 0, 106), c.after})) << c.height;
        EXPECT_EQ(kx::host::DebugLines(), c.debug) << c.height;
        EXPECT_TRUE(GuardIntact(0)) << c.height;
        // A negative size never reaches the heap as a huge request.
        if (c.result != NFP_OK) {
            EXPECT_EQ(kx::host::LastAllocationSize(), before) << c.height;
        }
        EXPECT_EQ(kx::host::LiveBlocks(), 0);
    }
}

TEST_F(BlockBand, TallBandSizedIn64Bits) {
    // H = 9000: the 32-bit product would be negative; the band is read in
    // full and rows past the sensor come blank.
    ASSERT_EQ(Capture(0, 9000), NFP_OK);
    EXPECT_EQ(kx::host::LastAllocationSize(), static_cast<size_t>(int64_t(9003) * 253952 / 302));
    // More entries than the log keeps: count them, and look at the end.
    EXPECT_EQ(rig_.reader->LogCount() + rig_.reader->LogDropped(), kIdentity.size() + 12 + 1848 + 1);
    EXPECT_EQ(rig_.Script(), (Names{"read*1023", "close"}));
    EXPECT_TRUE(std::equal(frame_.begin(), frame_.end(), area_.begin()));
    for (size_t i = acq::kRawSize; i < 9000 * 400; ++i) ASSERT_EQ(area_[i], 255) << i;
    EXPECT_TRUE(GuardIntact(9000));
}

TEST_F(BlockBand, FailureRows) {
    // A read fails: CaptureClose, the message, and nothing written.
    rig_.reader->AddFault(vreader::kReadCode, 4);
    EXPECT_EQ(Capture(0, 100), NFP_ERR_NO_IMAGE);
    EXPECT_EQ(rig_.Script(), Join({kIdentity, BlockBandPreamble(3, true, 0, 6), {"read*3", "read!", "close"}}));
    EXPECT_EQ(kx::host::DebugLines(), Names{"ImageData can not read !"});
    EXPECT_TRUE(GuardIntact(0));
    rig_.reader->ClearFaults();
    // No buffer: -1, the message, no CaptureClose.
    rig_.ClearLog();
    kx::host::FailAllocation(1);
    EXPECT_EQ(Capture(0, 100), NFP_ERR_GENERAL);
    EXPECT_EQ(rig_.Script(), Join({kIdentity, BlockBandPreamble(3, true, 0, 6)}));
    // Identity unreadable: -1, nothing else sent, CurrentModel kept.
    kx::SetCurrentModel(4);
    rig_.ClearLog();
    rig_.reader->AddFault(kx::REQ_MEMORY_READ, 1);
    EXPECT_EQ(Capture(0, 100), NFP_ERR_GENERAL);
    EXPECT_EQ(rig_.Script(), Names{"mem7870+2!"});
    EXPECT_EQ(kx::CurrentModel(), 4);
}

class StreamBand : public ::testing::Test {
  protected:
    int Capture(int start, int end, size_t rows) {
        rig_.Start(picture_.data());
        area_ = std::make_unique<uint8_t[]>(rows * 400 + kGuard);
        memset(area_.get(), kUntouched, rows * 400 + kGuard);
        rows_ = rows;
        return NFP_CapturePart(rig_.device, 0, 1, start, end, area_.get());
    }
    bool GuardIntact() const {
        for (size_t i = rows_ * 400; i < rows_ * 400 + kGuard; ++i)
            if (area_[i] != kUntouched) return false;
        return true;
    }
    static constexpr size_t kGuard = 400 * 302;
    ReaderRig rig_{'3'};
    std::vector<uint8_t> picture_ = acq::TestPicture(41);
    std::unique_ptr<uint8_t[]> area_;
    size_t rows_ = 0;
};

TEST_F(StreamBand, RowsZeroToH) {
    // H = 20 gives 21 rows, one more than the block path's 20.
    ASSERT_EQ(Capture(100, 120, 21), NFP_OK);
    EXPECT_EQ(kx::CurrentModel(), 3);
    EXPECT_EQ(rig_.Script(), Join({kIdentity, StreamBandPreamble(0, true, 0, 100), {"read*5", "close"}}));
    for (int n = 0; n <= 20; ++n) {
        EXPECT_TRUE(acq::SameColumns(area_.get() + 400 * n, picture_.data() + 400 * (100 + n), 1, 0, 398)) << n;
        EXPECT_EQ(area_[400 * n + 398], kUntouched);
        EXPECT_EQ(area_[400 * n + 399], kUntouched);
    }
    EXPECT_TRUE(GuardIntact());
}

TEST_F(StreamBand, LinesAboveHNeverPassTheCallersRows) {
    // The reader shuffles its band lines, so lines numbered above H arrive
    // before line H. They are dropped: the area holds H + 1 rows only.
    rig_.description.streamOptions = vreader::kStreamShuffle | vreader::kStreamRepeat;
    rig_.description.seed = 4;
    ASSERT_EQ(Capture(50, 60, 11), NFP_OK);
    EXPECT_TRUE(GuardIntact());
    // The guard reaches as far as the reader's numbering does.
    ASSERT_GE(kGuard, 400u * (301 - 50 - 10));
    int present = 0;
    for (int n = 0; n <= 10; ++n)
        present += acq::SameColumns(area_.get() + 400 * n, picture_.data() + 400 * (50 + n), 1, 0, 398);
    EXPECT_GE(present, 2);  // line 0 and line 10 at least
}

TEST_F(StreamBand, HeightsThatCannotEnd) {
    // H = 0: line 0 comes only as the first line, which ends nothing.
    // H < 0: no line can match. A band below the sensor's end: the reader
    // never numbers that far. Each gives up after 151 reads.
    struct Case {
        int start, end;
    } cases[] = {{100, 100}, {100, 90}, {250, 310}};
    for (const Case &c : cases) {
        const int rows = c.end - c.start + 1;
        ASSERT_EQ(Capture(c.start, c.end, rows > 0 ? rows : 0), NFP_ERR_NO_IMAGE)
            << c.start << ".." << c.end;
        Names script = rig_.Script();
        EXPECT_EQ(script[script.size() - 2], "read*152");
        EXPECT_EQ(script.back(), "close");
        EXPECT_TRUE(GuardIntact());
    }
}

TEST_F(StreamBand, UpperBitsAreMasked) {
    rig_.description.streamOptions = vreader::kStreamUpperBits | vreader::kStreamJunk;
    ASSERT_EQ(Capture(0, 301, 302), NFP_OK);
    EXPECT_TRUE(acq::SameColumns(area_.get(), picture_.data(), 302, 0, 398));
}

TEST_F(StreamBand, FailureRows) {
    // Each preamble request fails in turn: its code, nothing after it.
    const Names preamble = StreamBandPreamble(0, true, 0, 10);
    const uint32_t codes[] = {kx::REQ_CAPTURE_OPEN, kx::REQ_CAPTURE_ARM, kx::REQ_WRITE_REGISTER,
                              kx::REQ_TRANSFER_START};
    const int results[] = {NFP_ERR_CAPTURE_OPEN, NFP_ERR_CAPTURE_ARM, NFP_ERR_WRITE_REGISTER,
                           NFP_ERR_TRANSFER_START};
    for (int i = 0; i < 4; ++i) {
        rig_.description.faults[0] = {codes[i], 1, 0};
        rig_.description.faultCount = 1;
        EXPECT_EQ(Capture(10, 20, 11), results[i]);
        Names script = rig_.Script();
        EXPECT_EQ(script.back().back(), '!');
        EXPECT_EQ(script.size(), i == 3 ? 1 + preamble.size() : 1 + i + 1) << i;
    }
}

TEST(RecordedStream, BandDecodesToTheGoldenImage) {
    // Junk between lines, long sync runs, repeated lines, every byte's
    // upper bits set: what a reader really sent, and what must come of it.
    std::vector<uint8_t> stream;
    vreader::GreyImage golden;
    std::string error;
    const std::string data = acq::SourceDir() + "/tests/data/model3_band_120_140";
    ASSERT_TRUE(vreader::ReadWholeFile(data + ".stream", &stream, &error)) << error;
    ASSERT_TRUE(vreader::LoadGreyImage(data + ".pgm", &golden, &error)) << error;
    ASSERT_EQ(golden.width, 400);
    ASSERT_EQ(golden.height, 21);
    ReaderRig rig('3');
    rig.replay = stream;
    rig.Start();
    std::vector<uint8_t> band(21 * 400, 0);
    EXPECT_EQ(NFP_CapturePart(rig.device, 0, 1, 120, 140, band.data()), NFP_OK);
    EXPECT_EQ(band, golden.pixels);
    EXPECT_EQ(rig.Script(), Join({kIdentity, StreamBandPreamble(0, true, 0, 120), {"read*5", "close"}}));
    // The whole-byte decoder of NFP_Capture finds no marker in it.
    rig.Start();
    std::vector<uint8_t> raw(acq::kRawSize);
    EXPECT_EQ(NFP_Capture(rig.device, 0, raw.data()), NFP_ERR_NO_IMAGE);
}

}  // namespace
