// The model-3 line stream: the decoder's byte cases in all three variants,
// its read loop over the seam (read bound, short reads, failures), and the
// virtual reader's own streams with their variations.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "acquisition/capture.h"
#include "acquisition/stream_decoder.h"
#include "acquisition_support.h"
#include "control/requests.h"

namespace {

using acq::ReaderRig;
using acq::StreamBuilder;
using kx::LineStreamDecoder;
using kx::StreamVariant;

constexpr uint8_t kUntouched = 0xEE;
const StreamVariant kAllVariants[] = {StreamVariant::kWholeByte, StreamVariant::kLowNibble,
                                      StreamVariant::kPartial};

const char *Name(StreamVariant v) {
    return v == StreamVariant::kWholeByte ? "whole-byte"
           : v == StreamVariant::kLowNibble ? "low-nibble"
                                             : "partial";
}

struct Decoded {
    LineStreamDecoder::Status status;
    std::vector<uint8_t> image;
    bool RowTouched(int row) const {
        for (int c = 0; c < 400; ++c)
            if (image[400 * row + c] != kUntouched) return true;
        return false;
    }
    bool RowIs(int row, const uint8_t *expected398) const {
        return std::equal(expected398, expected398 + 398, image.begin() + 400 * row);
    }
};

Decoded Decode(const std::vector<uint8_t> &bytes, StreamVariant variant, int lastLine) {
    Decoded d;
    d.image.assign(acq::kRawSize, kUntouched);
    LineStreamDecoder decoder(variant, lastLine, d.image.data());
    d.status = decoder.Decode(bytes.data(), bytes.size());
    return d;
}

std::vector<uint8_t> RowOf(uint8_t value) { return std::vector<uint8_t>(398, value); }

// Pixel values whose nibbles never make four 15s in a row, so pixel data
// scanned as markers cannot pass for one.
const std::vector<uint8_t> kRowA = RowOf(0x80), kRowB = RowOf(0x91), kRowC = RowOf(0x6C);

TEST(StreamDecoder, MarkerMatching) {
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        LineStreamDecoder::Status status;
        bool row0, row5;  // rows that must hold kRowA / kRowB afterwards
    };
    StreamBuilder fifteenBreaksZero;
    fifteenBreaksZero.Bytes({15, 15, 15, 15, 0, 15, 15, 15, 15, 0, 0, 12, 7})
        .Pixels(kRowA.data(), 398).Repeat(0, 16).Line(5, kRowB.data());
    StreamBuilder threeFifteens;
    threeFifteens.Sync(3).Bytes({0, 0, 12, 7}).Pixels(kRowA.data(), 398).Repeat(0, 16)
        .Line(5, kRowB.data());
    StreamBuilder longSyncs;
    longSyncs.FirstMarker(11).Pixels(kRowA.data(), 398).Repeat(0, 16)
        .LineMarker(5, 30).Pixels(kRowB.data(), 398).Repeat(0, 15);
    const Case cases[] = {
        {"first line then line 5",
         StreamBuilder().FirstLine(kRowA.data()).Line(5, kRowB.data()).bytes,
         LineStreamDecoder::kComplete, true, true},
        {"line markers before the first-line marker are ignored",
         StreamBuilder().Line(5, kRowB.data()).Line(3, kRowB.data()).FirstLine(kRowA.data()).bytes,
         LineStreamDecoder::kMore, true, false},
        {"a first-line marker after line 0 is ignored",
         StreamBuilder().FirstLine(kRowA.data()).FirstLine(kRowC.data()).Line(5, kRowB.data()).bytes,
         LineStreamDecoder::kComplete, true, true},
        {"longer sync runs are accepted", longSyncs.bytes, LineStreamDecoder::kComplete, true, true},
        {"three 15s are no sync run", threeFifteens.bytes, LineStreamDecoder::kMore, false, false},
        {"a 15 that breaks a match starts no sync run", fifteenBreaksZero.bytes,
         LineStreamDecoder::kMore, false, false},
    };
    for (const Case &c : cases) {
        for (StreamVariant v : kAllVariants) {
            Decoded d = Decode(c.bytes, v, 5);
            EXPECT_EQ(d.status, c.status) << c.name << ", " << Name(v);
            EXPECT_EQ(d.RowIs(0, kRowA.data()), c.row0) << c.name << ", " << Name(v);
            EXPECT_EQ(d.RowIs(5, kRowB.data()), c.row5) << c.name << ", " << Name(v);
            EXPECT_FALSE(d.RowTouched(3)) << c.name << ", " << Name(v);
        }
    }
}

TEST(StreamDecoder, UpperBitsDependOnTheVariant) {
    // 0x1F in the sync run: not 15 for whole bytes, 15 for low nibbles.
    StreamBuilder sync;
    sync.Bytes({15, 15, 15, 0x1F, 0, 0, 12, 7}).Pixels(kRowA.data(), 398).Repeat(0, 16)
        .Line(5, kRowB.data());
    // Pixel bytes 0x13 0x1A: whole bytes (0x30 + 0x1A) = 0x4A, nibbles 0x3A.
    StreamBuilder pixels;
    pixels.FirstMarker().Bytes({0x13, 0x1A});
    // Line digits 0 0 0x10 5: line 261 from whole bytes, line 5 from nibbles.
    StreamBuilder digits;
    digits.FirstLine(kRowA.data()).Sync().Bytes({0, 0, 11, 6, 0, 0, 0x10, 5})
        .Pixels(kRowB.data(), 398).Repeat(0, 15);
    for (StreamVariant v : kAllVariants) {
        const bool whole = v == StreamVariant::kWholeByte;
        Decoded s = Decode(sync.bytes, v, 5);
        EXPECT_EQ(s.status, whole ? LineStreamDecoder::kMore : LineStreamDecoder::kComplete) << Name(v);
        EXPECT_EQ(s.RowIs(0, kRowA.data()), !whole) << Name(v);

        Decoded p = Decode(pixels.bytes, v, 301);
        EXPECT_EQ(p.image[0], whole ? 255 - 0x4A : 255 - 0x3A) << Name(v);

        Decoded d = Decode(digits.bytes, v, whole ? 261 : 5);
        EXPECT_EQ(d.status, LineStreamDecoder::kComplete) << Name(v);
        EXPECT_TRUE(d.RowIs(whole ? 261 : 5, kRowB.data())) << Name(v);
        EXPECT_FALSE(d.RowTouched(whole ? 5 : 261)) << Name(v);
    }
}

TEST(StreamDecoder, PixelValues) {
    // The reader's nibbles as they arrive: stored = 255 - (16 h + l).
    StreamBuilder b;
    b.FirstMarker().Bytes({0, 0, 15, 15, 3, 10, 0, 1, 1, 0});
    for (StreamVariant v : kAllVariants) {
        Decoded d = Decode(b.bytes, v, 301);
        EXPECT_EQ(d.status, LineStreamDecoder::kMore);
        const int expected[] = {255, 0, 197, 254, 255 - 16, kUntouched};
        for (int c = 0; c < 6; ++c) EXPECT_EQ(d.image[c], expected[c]) << Name(v) << " column " << c;
    }
}

TEST(StreamDecoder, LineEndsAfterItsTail) {
    StreamBuilder first;
    first.FirstLine(kRowA.data());
    // Line 7 ends with the 15th byte after its 398th pixel, not before.
    StreamBuilder line = first;
    line.Line(7, kRowB.data());
    std::vector<uint8_t> shortOne(line.bytes.begin(), line.bytes.end() - 1);
    // The first line's tail is 16 bytes: with only 15 the next marker's
    // first 15 is eaten as the line's last byte.
    StreamBuilder shortTail;
    shortTail.FirstMarker().Pixels(kRowA.data(), 398).Repeat(0, 15).Line(7, kRowB.data());
    for (StreamVariant v : kAllVariants) {
        EXPECT_EQ(Decode(line.bytes, v, 7).status, LineStreamDecoder::kComplete) << Name(v);
        EXPECT_EQ(Decode(shortOne, v, 7).status, LineStreamDecoder::kMore) << Name(v);
        Decoded d = Decode(shortTail.bytes, v, 7);
        EXPECT_EQ(d.status, LineStreamDecoder::kMore) << Name(v);
        EXPECT_FALSE(d.RowTouched(7)) << Name(v);
        // The first line never ends a capture, not even one whose last line is 0.
        EXPECT_EQ(Decode(first.bytes, v, 0).status, LineStreamDecoder::kMore) << Name(v);
    }
}

TEST(StreamDecoder, LineNumber302FailsAtItsFirstPixel) {
    StreamBuilder b;
    b.FirstLine(kRowA.data()).LineMarker(301 + 1);
    EXPECT_EQ(b.bytes[b.size() - 4], 0);  // digits 0 1 2 14
    EXPECT_EQ(b.bytes[b.size() - 1], 14);
    for (StreamVariant v : kAllVariants) {
        std::vector<uint8_t> image(acq::kRawSize, kUntouched);
        LineStreamDecoder decoder(v, 301, image.data());
        EXPECT_EQ(decoder.Decode(b.bytes.data(), b.size()), LineStreamDecoder::kMore) << Name(v);
        const uint8_t pixel = 0;
        EXPECT_EQ(decoder.Decode(&pixel, 1), LineStreamDecoder::kBadLine) << Name(v);
    }
    // Line 301 is the last row there is.
    for (StreamVariant v : kAllVariants) {
        Decoded d = Decode(StreamBuilder().FirstLine(kRowA.data()).Line(301, kRowB.data()).bytes, v, 301);
        EXPECT_EQ(d.status, LineStreamDecoder::kComplete);
        EXPECT_TRUE(d.RowIs(301, kRowB.data()));
    }
}

TEST(StreamDecoder, LinesInAnyOrderRepeatsOverwrite) {
    StreamBuilder b;
    b.FirstLine(kRowA.data()).Line(9, kRowA.data()).Line(4, kRowC.data()).Line(9, kRowB.data())
        .Line(2, kRowB.data()).Line(301, kRowC.data());
    for (StreamVariant v : kAllVariants) {
        Decoded d = Decode(b.bytes, v, 301);
        EXPECT_EQ(d.status, LineStreamDecoder::kComplete);
        EXPECT_TRUE(d.RowIs(9, kRowB.data()));
        EXPECT_TRUE(d.RowIs(4, kRowC.data()));
        EXPECT_TRUE(d.RowIs(2, kRowB.data()));
        EXPECT_FALSE(d.RowTouched(1));
        EXPECT_FALSE(d.RowTouched(300));
        for (int r = 0; r < 302; ++r) {
            ASSERT_EQ(d.image[400 * r + 398], kUntouched) << r;
            ASSERT_EQ(d.image[400 * r + 399], kUntouched) << r;
        }
    }
}

TEST(StreamDecoder, RowsAboveTheLastLineAreDropped) {
    // A band's caller holds rows 0..H only: later line numbers are decoded
    // (so the stream stays in step) but not stored.
    StreamBuilder b;
    b.FirstLine(kRowA.data()).Line(25, kRowC.data()).Line(301, kRowC.data()).Line(20, kRowB.data());
    for (StreamVariant v : kAllVariants) {
        // A whole frame's room, so that a stray row would show anywhere.
        std::vector<uint8_t> area(acq::kRawSize, kUntouched);
        LineStreamDecoder decoder(v, 20, area.data());
        EXPECT_EQ(decoder.Decode(b.bytes.data(), b.size()), LineStreamDecoder::kComplete);
        EXPECT_TRUE(std::equal(kRowA.begin(), kRowA.end(), area.begin()));
        EXPECT_TRUE(std::equal(kRowB.begin(), kRowB.end(), area.begin() + 20 * 400));
        for (size_t i = 21 * 400; i < area.size(); ++i) ASSERT_EQ(area[i], kUntouched) << i;

        // A negative last line stores nothing at all, not even line 0.
        std::vector<uint8_t> none(acq::kRawSize, kUntouched);
        LineStreamDecoder nothing(v, -1, none.data());
        EXPECT_EQ(nothing.Decode(b.bytes.data(), b.size()), LineStreamDecoder::kMore);
        for (size_t i = 0; i < none.size(); ++i) ASSERT_EQ(none[i], kUntouched) << i;
    }
}

TEST(StreamDecoder, StateCarriesAcrossBuffers) {
    std::vector<uint8_t> picture = acq::TestPicture(3);
    StreamBuilder b;
    b.Frame(picture.data());
    Decoded whole = Decode(b.bytes, StreamVariant::kWholeByte, 301);
    ASSERT_EQ(whole.status, LineStreamDecoder::kComplete);
    EXPECT_TRUE(acq::SameColumns(whole.image.data(), picture.data(), 302, 0, 398));
    // Any split gives the same image; a single byte at a time as well.
    for (size_t piece : {size_t(1), size_t(7), size_t(813), size_t(4096)}) {
        std::vector<uint8_t> image(acq::kRawSize, kUntouched);
        LineStreamDecoder decoder(StreamVariant::kWholeByte, 301, image.data());
        LineStreamDecoder::Status s = LineStreamDecoder::kMore;
        for (size_t at = 0; at < b.size() && s == LineStreamDecoder::kMore; at += piece)
            s = decoder.Decode(b.bytes.data() + at, std::min(piece, b.size() - at));
        EXPECT_EQ(s, LineStreamDecoder::kComplete) << piece;
        EXPECT_EQ(image, whole.image) << piece;
    }
}

// --- the read loop over the seam ---

class StreamCapture : public ::testing::Test {
  protected:
    void StartReplay(std::vector<uint8_t> bytes) {
        rig_.replay = std::move(bytes);
        rig_.Start();
    }
    // The decoder's read loop alone, on a started transfer.
    int Run(StreamVariant v, int lastLine = 301) {
        image_.assign(acq::kRawSize, kUntouched);
        EXPECT_EQ(kx::TransferStart(rig_.device), NFP_OK);
        rig_.ClearLog();
        return kx::DecodeLineStream(rig_.device, image_.data(), v, lastLine);
    }
    ReaderRig rig_;
    std::vector<uint8_t> image_;
};

TEST_F(StreamCapture, StopsReadingWhenTheLastLineEnds) {
    std::vector<uint8_t> picture = acq::TestPicture(5);
    StreamBuilder b;
    b.Frame(picture.data()).FirstLine(kRowC.data());  // more data follows
    const size_t frameBytes = b.size() - (8 + 796 + 16);
    StartReplay(b.bytes);
    for (StreamVariant v : kAllVariants) {
        EXPECT_EQ(Run(v), NFP_OK) << Name(v);
        const size_t reads = (frameBytes + 4095) / 4096;
        EXPECT_EQ(rig_.Script(), (std::vector<std::string>{"read*" + std::to_string(reads), "close"}))
            << Name(v);
        EXPECT_TRUE(acq::SameColumns(image_.data(), picture.data(), 302, 0, 398)) << Name(v);
        for (int r = 0; r < 302; ++r) {
            ASSERT_EQ(image_[400 * r + 398], kUntouched);
            ASSERT_EQ(image_[400 * r + 399], kUntouched);
        }
    }
}

TEST_F(StreamCapture, GivesUpAfter151Reads) {
    std::vector<uint8_t> picture = acq::TestPicture(6);
    StreamBuilder frame;
    frame.Frame(picture.data());
    const size_t limit = 151 * 4096;
    struct Case {
        const char *name;
        size_t padding;
        int result;
        std::string reads;
    } cases[] = {
        {"last line ends in read 151", limit - frame.size(), NFP_OK, "read*151"},
        {"last line would end in read 152", limit - frame.size() + 1, NFP_ERR_NO_IMAGE, "read*152"},
        {"no frame at all", limit + 8192, NFP_ERR_NO_IMAGE, "read*152"},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes(c.padding, 0);
        bytes.insert(bytes.end(), frame.bytes.begin(), frame.bytes.end());
        StartReplay(bytes);
        EXPECT_EQ(Run(StreamVariant::kWholeByte), c.result) << c.name;
        EXPECT_EQ(rig_.Script(), (std::vector<std::string>{c.reads, "close"})) << c.name;
    }
}

TEST_F(StreamCapture, FailuresEndWithCaptureClose) {
    std::vector<uint8_t> picture = acq::TestPicture(7);
    StreamBuilder frame;
    frame.Frame(picture.data());
    // A read fails: the third one.
    StartReplay(frame.bytes);
    rig_.reader->AddFault(vreader::kReadCode, 3);
    EXPECT_EQ(Run(StreamVariant::kWholeByte), NFP_ERR_NO_IMAGE);
    EXPECT_EQ(rig_.Script(), (std::vector<std::string>{"read*2", "read!", "close"}));

    // Line 302 in the first read: nothing is read after it.
    StreamBuilder bad;
    bad.FirstLine(kRowA.data()).Line(302, kRowB.data()).Frame(picture.data());
    StartReplay(bad.bytes);
    for (StreamVariant v : kAllVariants) {
        EXPECT_EQ(Run(v), NFP_ERR_NO_IMAGE) << Name(v);
        EXPECT_EQ(rig_.Script(), (std::vector<std::string>{"read", "close"})) << Name(v);
    }
}

TEST_F(StreamCapture, ShortReadsDecodeTheWholeBuffer) {
    // Read 1 (4096 bytes): zeros, then a complete line 301, ignored while
    // the first-line marker is still looked for. Read 2 delivers only the
    // first line; behind it the buffer still holds read 1's line 301 in the
    // whole-byte and low-nibble variants, zeros in the partial one.
    StreamBuilder first;
    first.FirstLine(kRowA.data());
    std::vector<uint8_t> bytes(first.size() + 100, 0);
    StreamBuilder late;
    late.Line(301, kRowB.data());
    bytes.insert(bytes.end(), late.bytes.begin(), late.bytes.end());
    bytes.resize(4096, 0);
    bytes.insert(bytes.end(), first.bytes.begin(), first.bytes.end());
    StartReplay(bytes);
    for (StreamVariant v : kAllVariants) {
        const bool partial = v == StreamVariant::kPartial;
        EXPECT_EQ(Run(v), partial ? NFP_ERR_NO_IMAGE : NFP_OK) << Name(v);
        EXPECT_TRUE(std::equal(kRowA.begin(), kRowA.end(), image_.begin())) << Name(v);
        EXPECT_EQ(std::equal(kRowB.begin(), kRowB.end(), image_.begin() + 400 * 301), !partial)
            << Name(v);
        EXPECT_EQ(rig_.Script()[0], partial ? "read*152" : "read*2") << Name(v);
    }
}

TEST_F(StreamCapture, ShortReadInsideALine) {
    // Read 1 ends with the marker of line 4; read 2 brings only 10 of its
    // pixels. Behind them the buffer still holds read 1 from byte 20 on,
    // the first line's pixels, which the whole-byte and low-nibble loops
    // decode into line 4; the partial loop finds zeros there (pixels 255).
    StreamBuilder b;
    b.FirstLine(kRowA.data());
    b.bytes.resize(4096 - 12, 0);
    b.LineMarker(4).Pixels(kRowB.data(), 10);
    ASSERT_EQ(b.size(), 4096u + 20);
    StartReplay(b.bytes);
    for (StreamVariant v : kAllVariants) {
        EXPECT_EQ(Run(v, 4), NFP_OK) << Name(v);
        const uint8_t *row4 = image_.data() + 400 * 4;
        EXPECT_TRUE(std::equal(kRowB.begin(), kRowB.begin() + 10, row4)) << Name(v);
        const int behind = v == StreamVariant::kPartial ? 255 : kRowA[0];
        for (int c = 10; c < 398; ++c) ASSERT_EQ(row4[c], behind) << Name(v) << " column " << c;
        EXPECT_EQ(rig_.Script(), (std::vector<std::string>{"read*2", "close"})) << Name(v);
    }
}

// --- the virtual reader's own streams ---

class ReaderStream : public ::testing::Test {
  protected:
    int Capture(const char *options, uint32_t seed = 1) {
        rig_.description.seed = seed;
        EXPECT_TRUE(vreader::ParseStreamOptions(options, &rig_.description.streamOptions)) << options;
        rig_.Start(picture_.data());
        raw_.assign(acq::kRawSize, kUntouched);
        return NFP_Capture(rig_.device, 7, raw_.data());
    }
    int MissingRows() const {
        int missing = 0;
        for (int r = 0; r < 302; ++r) {
            bool untouched = true;
            for (int c = 0; c < 398; ++c) untouched = untouched && raw_[400 * r + c] == kUntouched;
            if (untouched) {
                ++missing;
            } else if (!acq::SameColumns(raw_.data() + 400 * r, picture_.data() + 400 * r, 1, 0, 398)) {
                ADD_FAILURE() << "row " << r << " is neither the picture nor untouched";
            }
        }
        return missing;
    }
    ReaderRig rig_{'3'};
    std::vector<uint8_t> picture_ = acq::TestPicture(11);
    std::vector<uint8_t> raw_;
};

TEST_F(ReaderStream, VariationsStillGiveThePicture) {
    const char *options[] = {"", "shuffle", "repeat", "long-sync", "junk",
                             "shuffle,repeat,long-sync,junk"};
    for (const char *o : options) {
        for (uint32_t seed : {1u, 2u, 99u}) {
            EXPECT_EQ(Capture(o, seed), NFP_OK) << o << " seed " << seed;
            EXPECT_TRUE(acq::SameColumns(raw_.data(), picture_.data(), 302, 0, 398)) << o;
            EXPECT_EQ(MissingRows(), 0) << o;
            for (int r = 0; r < 302; ++r) ASSERT_EQ(raw_[400 * r + 398], kUntouched) << o;
        }
    }
}

TEST_F(ReaderStream, MissingLinesKeepTheirRows) {
    for (uint32_t seed : {1u, 5u}) {
        EXPECT_EQ(Capture("missing,shuffle", seed), NFP_OK);
        int missing = MissingRows();
        EXPECT_GT(missing, 5) << seed;
        EXPECT_LT(missing, 60) << seed;
        // Never the first or the last line.
        EXPECT_TRUE(acq::SameColumns(raw_.data(), picture_.data(), 1, 0, 398));
        EXPECT_TRUE(acq::SameColumns(raw_.data() + 400 * 301, picture_.data() + 400 * 301, 1, 0, 398));
    }
}

TEST_F(ReaderStream, UpperBitsNeedTheLowNibbleVariants) {
    EXPECT_EQ(Capture("upper-bits,junk"), NFP_ERR_NO_IMAGE);
    std::vector<std::string> script = rig_.Script();
    EXPECT_EQ(script[script.size() - 2], "read*152");
    for (StreamVariant v : {StreamVariant::kLowNibble, StreamVariant::kPartial}) {
        EXPECT_EQ(kx::SendStreamFramePreamble(rig_.device, 7, 40), NFP_OK);
        std::vector<uint8_t> raw(acq::kRawSize, kUntouched);
        EXPECT_EQ(kx::DecodeLineStream(rig_.device, raw.data(), v, 301), NFP_OK) << Name(v);
        EXPECT_TRUE(acq::SameColumns(raw.data(), picture_.data(), 302, 0, 398)) << Name(v);
    }
}

TEST_F(ReaderStream, FramesFollowOneAnother) {
    rig_.Start(picture_.data());
    ASSERT_EQ(kx::TransferStart(rig_.device), NFP_OK);
    std::vector<uint8_t> bytes(80 * 4096);
    for (size_t at = 0; at < bytes.size(); at += 4096) {
        uint32_t got = 0;
        ASSERT_TRUE(kx::System().read(rig_.device, bytes.data() + at, 4096, &got));
        ASSERT_EQ(got, 4096u);
    }
    // The frame as the builder makes it, then the next frame's first line.
    StreamBuilder expected;
    expected.Frame(picture_.data());
    // The reader sends columns 398 and 399 in the tail pixels.
    for (int n = 0; n < 302; ++n) {
        size_t row = n == 0 ? 8 + 796 : 820 + (n - 1) * (12 + 796 + 15) + 12 + 796;
        const uint8_t c398 = static_cast<uint8_t>(255 - picture_[400 * n + 398]);
        expected.bytes[row] = c398 >> 4;
        expected.bytes[row + 1] = c398 & 15;
        const uint8_t c399 = static_cast<uint8_t>(255 - picture_[400 * n + 399]);
        expected.bytes[row + 2] = c399 >> 4;
        expected.bytes[row + 3] = c399 & 15;
    }
    ASSERT_TRUE(std::equal(expected.bytes.begin(), expected.bytes.end(), bytes.begin()));
    const uint8_t nextFirst[] = {15, 15, 15, 15, 0, 0, 12, 7};
    EXPECT_TRUE(std::equal(nextFirst, nextFirst + 8, bytes.begin() + expected.size()));
}

TEST_F(ReaderStream, ReplaySendsExactBytesThenNothing) {
    rig_.replay = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    rig_.description.shortRead = 4;
    rig_.Start();
    ASSERT_EQ(kx::TransferStart(rig_.device), NFP_OK);
    uint8_t buffer[16];
    std::vector<uint32_t> counts;
    std::vector<uint8_t> seen;
    for (int i = 0; i < 4; ++i) {
        memset(buffer, 0xCC, sizeof buffer);
        uint32_t got = 99;
        ASSERT_TRUE(kx::System().read(rig_.device, buffer, sizeof buffer, &got));
        counts.push_back(got);
        seen.insert(seen.end(), buffer, buffer + got);
        EXPECT_EQ(buffer[got], 0xCC);
    }
    EXPECT_EQ(counts, (std::vector<uint32_t>{4, 4, 2, 0}));
    EXPECT_EQ(seen, rig_.replay);
}

TEST(ReaderStreamBlock, LayoutAndBands) {
    std::vector<uint8_t> picture = acq::TestPicture(12);
    struct Case {
        char model;
        bool band;
        uint8_t r16, r17;
        int firstRow;
    } cases[] = {
        {'4', false, 0, 0, 0},
        {'5', true, 0, 106, 100},   // a block reader counts 6 lines ahead
        {'5', true, 0, 0, -6},      // start 250: the +6 carried out of register 17
        {'4', true, 1, 50, 300},
    };
    for (const Case &c : cases) {
        ReaderRig rig(c.model);
        rig.Start(picture.data());
        ASSERT_EQ(kx::CaptureOpen(rig.device), NFP_OK);
        if (c.band) {
            ASSERT_EQ(kx::WriteRegister(rig.device, 16, c.r16), NFP_OK);
            ASSERT_EQ(kx::WriteRegister(rig.device, 17, c.r17), NFP_OK);
        }
        ASSERT_EQ(kx::TransferStart(rig.device), NFP_OK);
        std::vector<uint8_t> block(62 * 4096);
        for (size_t at = 0; at < block.size(); at += 4096) {
            uint32_t got = 0;
            ASSERT_TRUE(kx::System().read(rig.device, block.data() + at, 4096, &got));
        }
        for (int n = 0; n < 302; ++n) {
            const int row = c.firstRow + n;
            for (int col = 0; col < 400; ++col) {
                const size_t at = 142 + 832 * n + 2 * col;
                const int pixel = row >= 0 && row < 302 ? picture[400 * row + col] : 255;
                ASSERT_EQ(block[at], 255 - pixel) << c.model << " row " << n << " col " << col;
                ASSERT_NE(block[at + 1], block[at]);
            }
        }
    }
}

}  // namespace
