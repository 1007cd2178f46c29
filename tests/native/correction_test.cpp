// Geometric correction against a reference written here from the stated
// arithmetic (column by column, from the right, separate from the
// library's row loop): the landing columns of the top and bottom rows,
// the model-5 bow, the 20 averaged rows, the choice of form by the last
// capture, and NFP_CaptureImage.
#include <gtest/gtest.h>

#include <math.h>

#include <algorithm>
#include <set>
#include <vector>

#include "acquisition/capture.h"
#include "acquisition/correction.h"
#include "acquisition_support.h"

namespace {

using acq::ReaderRig;

// --- the reference ---

struct Form {
    float slope;
    double base;
    bool bow;
};
const Form kStandard = {0.052980132f, 1.0, false};
const Form kModel5 = {0.069536425f, 1.023, true};

int Landing(int k, int i, const Form &f) {
    const double y = 301 - k;
    const double s = y * static_cast<double>(f.slope) * static_cast<double>(0.005050505f) + f.base;
    const double x = (static_cast<double>(i - 200) * s + static_cast<double>(200.0f)) *
                         static_cast<double>(0.7f) + static_cast<double>(1.0f);
    return static_cast<int>(trunc(x));
}

int SourceRow(int k, int i, const Form &f) {
    if (!f.bow) return k;
    const int h = k < 101 ? 4 : k < 202 ? 5 : 6;
    const double bow = ((i - static_cast<double>(i * i) / 400.0) * h * 4.0) / 400.0;
    return static_cast<int>(trunc(std::max(k - bow, 0.0)));
}

int OutputRow(int j, const Form &f) {
    return static_cast<int>(trunc(f.bow ? j * 321.0 * (1.0 / 300.0) : j * 1.07));
}

std::vector<uint8_t> Reference(const uint8_t *raw, const Form &f) {
    std::vector<uint8_t> work(302 * 280);
    uint8_t row[280] = {};
    for (int k = 0; k < 302; ++k) {
        // The last column to land on a position wins: walk from the right
        // and keep the first.
        bool taken[280] = {};
        for (int i = 399; i >= 0; --i) {
            const int x = Landing(k, i, f);
            if (x < 0 || x >= 280 || taken[x]) continue;
            taken[x] = true;
            row[x] = raw[400 * SourceRow(k, i, f) + i];
        }
        std::copy(row, row + 280, work.begin() + 280 * k);
    }
    std::vector<uint8_t> out(280 * 320);
    std::vector<bool> copied(320, false);
    for (int j = 0; j < 300; ++j) {
        const int d = OutputRow(j, f);
        std::copy(work.begin() + 280 * (j + 2), work.begin() + 280 * (j + 3), out.begin() + 280 * d);
        copied[d] = true;
    }
    for (int d = 1; d < 319; ++d)
        if (!copied[d])
            for (int m = 0; m < 280; ++m)
                out[280 * d + m] = static_cast<uint8_t>((out[280 * (d - 1) + m] + out[280 * (d + 1) + m]) / 2);
    return out;
}

std::vector<uint8_t> Corrected(const std::vector<uint8_t> &raw, int model) {
    kx::SetCurrentModel(model);
    std::vector<uint8_t> out(280 * 320, 0xEE);
    EXPECT_EQ(NFP_CorrectImage(raw.data(), out.data()), NFP_OK);
    return out;
}

// Taken while the test program loads, before any test has captured.
struct AtLoad {
    int model;
    int result;
    std::vector<uint8_t> raw, corrected;
};
AtLoad TakeAtLoad() {
    AtLoad a;
    a.model = kx::CurrentModel();
    a.raw = acq::TestPicture(77);
    a.corrected.assign(280 * 320, 0);
    a.result = NFP_CorrectImage(a.raw.data(), a.corrected.data());
    return a;
}
const AtLoad kAtLoad = TakeAtLoad();

TEST(Correction, StandardFormBeforeAnyCapture) {
    EXPECT_EQ(kAtLoad.model, 0);
    EXPECT_EQ(kAtLoad.result, NFP_OK);
    EXPECT_EQ(kAtLoad.corrected, Reference(kAtLoad.raw.data(), kStandard));
    EXPECT_NE(kAtLoad.corrected, Reference(kAtLoad.raw.data(), kModel5));
}

TEST(Correction, ReferenceLandings) {
    // The bottom raw row in the standard form: 200 lands at 140, not 141,
    // because the single-precision 0.7 is a little below 0.7.
    const struct {
        int k, i, x;
        const Form *f;
    } landings[] = {
        {301, 0, 1, &kStandard},   {301, 200, 140, &kStandard}, {301, 397, 278, &kStandard},
        {301, 398, 279, &kStandard}, {301, 399, 280, &kStandard}, {0, 0, -10, &kStandard},
    };
    for (const auto &l : landings) EXPECT_EQ(Landing(l.k, l.i, *l.f), l.x) << l.k << ", " << l.i;
    const struct {
        int k;
        const Form *f;
        int first, last;
    } spans[] = {{0, &kStandard, 13, 383}, {0, &kModel5, 21, 375}, {301, &kModel5, 2, 394}};
    for (const auto &s : spans) {
        std::vector<int> inside;
        for (int i = 0; i < 400; ++i) {
            const int x = Landing(s.k, i, *s.f);
            if (x >= 0 && x < 280) inside.push_back(i);
        }
        EXPECT_EQ(inside.front(), s.first) << s.k;
        EXPECT_EQ(inside.back(), s.last) << s.k;
        EXPECT_EQ(inside.size(), static_cast<size_t>(s.last - s.first + 1)) << s.k;
    }
    // Neighbouring columns land at most one apart; every position is
    // reached in every row but one.
    for (const Form *f : {&kStandard, &kModel5}) {
        for (int k = 0; k < 302; ++k) {
            std::set<int> reached;
            for (int i = 0; i < 400; ++i) {
                const int x = Landing(k, i, *f);
                if (i > 0) {
                    ASSERT_LE(x - Landing(k, i - 1, *f), 1);
                }
                reached.insert(x);
            }
            const bool gap = f == &kStandard && k == 301;
            for (int x = 0; x < 280; ++x) ASSERT_EQ(reached.count(x) == 0, gap && x == 0) << k << ", " << x;
        }
    }
    // Standard form: column 398 lands inside only in rows 291..301, 399 never.
    for (int k = 0; k < 302; ++k) {
        EXPECT_EQ(Landing(k, 398, kStandard) < 280, k >= 291) << k;
        EXPECT_GE(Landing(k, 399, kStandard), 280) << k;
    }
}

TEST(Correction, ReferenceBow) {
    EXPECT_EQ(SourceRow(10, 200, kModel5), 6);
    EXPECT_EQ(SourceRow(10, 100, kModel5), 7);
    EXPECT_EQ(SourceRow(10, 0, kModel5), 10);
    EXPECT_EQ(SourceRow(250, 200, kModel5), 244);
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < 400; ++i) {
            const double bow = ((i - i * i / 400.0) * 4 * 4) / 400;
            if (bow > k) {
                ASSERT_EQ(SourceRow(k, i, kModel5), 0) << k << ", " << i;
            }
        }
}

TEST(Correction, TheTwentyAveragedRows) {
    const std::set<int> averaged = {15,  30,  45,  61,  76,  91,  106, 122, 137, 152,
                                    168, 183, 198, 213, 229, 244, 259, 275, 290, 305};
    for (const Form *f : {&kStandard, &kModel5}) {
        std::set<int> copied;
        for (int j = 0; j < 300; ++j) {
            EXPECT_EQ(OutputRow(j, *f), static_cast<int>(trunc(j * 1.07))) << j;
            copied.insert(OutputRow(j, *f));
        }
        std::set<int> missing;
        for (int d = 0; d < 320; ++d)
            if (!copied.count(d)) missing.insert(d);
        EXPECT_EQ(missing, averaged);
    }
}

TEST(Correction, MatchesTheReferenceOnRandomFrames) {
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        std::vector<uint8_t> raw = acq::TestPicture(seed * 97);
        ASSERT_EQ(Corrected(raw, 3), Reference(raw.data(), kStandard)) << seed;
        ASSERT_EQ(Corrected(raw, 5), Reference(raw.data(), kModel5)) << seed;
        ASSERT_EQ(Corrected(raw, 0), Reference(raw.data(), kStandard)) << seed;
        ASSERT_EQ(Corrected(raw, 4), Reference(raw.data(), kStandard)) << seed;
    }
}

TEST(Correction, BothWaysOfMovingPixelsAgree) {
    // The byte-by-byte path is what a processor without SSSE3 runs.
    std::vector<uint8_t> work(kx::kWorkingSize), fast(280 * 320), portable(280 * 320);
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        std::vector<uint8_t> raw = acq::TestPicture(seed * 131);
        for (auto form : {kx::CorrectionForm::kStandard, kx::CorrectionForm::kModel5}) {
            kx::Correct(raw.data(), work.data(), fast.data(), form, kx::CorrectionPath::kFastest);
            kx::Correct(raw.data(), work.data(), portable.data(), form, kx::CorrectionPath::kPortable);
            const Form &f = form == kx::CorrectionForm::kModel5 ? kModel5 : kStandard;
            ASSERT_EQ(portable, Reference(raw.data(), f)) << seed;
            ASSERT_EQ(fast, portable) << seed;
        }
    }
}

TEST(Correction, ObservedLandingsOfTheBottomRow) {
    // Raw row 301 alone carries column numbers; it becomes output row 319.
    for (int i : {0, 200, 397, 398, 399}) {
        std::vector<uint8_t> raw(acq::kRawSize, 0);
        raw[400 * 301 + i] = 255;
        std::vector<uint8_t> out = Corrected(raw, 3);
        std::vector<int> lit;
        for (int x = 0; x < 280; ++x)
            if (out[280 * 319 + x]) lit.push_back(x);
        // Column 0 lands at 1 but column 1 lands there after it; 399 is
        // dropped.
        const std::vector<int> expected = i == 200   ? std::vector<int>{140}
                                          : i == 397 ? std::vector<int>{278}
                                          : i == 398 ? std::vector<int>{279}
                                                     : std::vector<int>{};
        EXPECT_EQ(lit, expected) << i;
    }
    // Position 0 of the bottom row keeps what raw row 300 put there.
    std::vector<uint8_t> raw(acq::kRawSize, 0);
    raw[400 * 300 + 0] = 9;   // lands outside
    for (int i = 0; i < 400; ++i)
        if (Landing(300, i, kStandard) == 0) raw[400 * 300 + i] = 200;
    std::vector<uint8_t> out = Corrected(raw, 3);
    EXPECT_EQ(out[280 * 319], 200);
    EXPECT_EQ(out[280 * 318], 200);
}

TEST(Correction, Column398ReachesOnlyTheBottomRows) {
    std::vector<uint8_t> raw(acq::kRawSize, 0);
    for (int k = 0; k < 302; ++k) raw[400 * k + 398] = 255;
    std::vector<uint8_t> out = Corrected(raw, 3);
    std::set<int> rows;
    for (int d = 0; d < 320; ++d)
        for (int x = 0; x < 280; ++x)
            if (out[280 * d + x]) {
                EXPECT_EQ(x, 279);
                rows.insert(d);
            }
    std::set<int> expected;
    for (int k = 291; k <= 301; ++k) expected.insert(OutputRow(k - 2, kStandard));
    EXPECT_EQ(rows, expected);
    std::vector<uint8_t> only399(acq::kRawSize, 0);
    for (int k = 0; k < 302; ++k) only399[400 * k + 399] = 255;
    std::vector<uint8_t> none = Corrected(only399, 3);
    EXPECT_TRUE(std::all_of(none.begin(), none.end(), [](uint8_t b) { return b == 0; }));
}

TEST(Correction, ObservedBow) {
    // Model 5, raw row 10 (output row 8): column 200 from raw row 6,
    // column 100 from raw row 7.
    std::vector<uint8_t> raw(acq::kRawSize, 0);
    raw[400 * 6 + 200] = 60;
    raw[400 * 7 + 100] = 70;
    raw[400 * 10 + 200] = 1;
    raw[400 * 10 + 100] = 1;
    std::vector<uint8_t> out = Corrected(raw, 5);
    ASSERT_EQ(OutputRow(8, kModel5), 8);
    EXPECT_EQ(out[280 * 8 + Landing(10, 200, kModel5)], 60);
    EXPECT_EQ(out[280 * 8 + Landing(10, 100, kModel5)], 70);
    EXPECT_EQ(Landing(10, 200, kModel5), 140);
    EXPECT_EQ(Landing(10, 100, kModel5), 62);
    // The standard form takes them from row 10 itself.
    std::vector<uint8_t> flat = Corrected(raw, 4);
    EXPECT_EQ(flat[280 * 8 + Landing(10, 200, kStandard)], 1);
}

TEST(Correction, AveragedRowsAndTheEnds) {
    // Rows of one value each: raw 16 is 255, raw 17 is 0.
    std::vector<uint8_t> raw(acq::kRawSize);
    for (int k = 0; k < 302; ++k) std::fill(raw.begin() + 400 * k, raw.begin() + 400 * (k + 1), k % 200);
    std::fill(raw.begin() + 400 * 16, raw.begin() + 400 * 17, 255);
    std::fill(raw.begin() + 400 * 17, raw.begin() + 400 * 18, 0);
    std::vector<uint8_t> out = Corrected(raw, 3);
    for (int x = 0; x < 280; ++x) {
        ASSERT_EQ(out[280 * 14 + x], 255) << x;
        ASSERT_EQ(out[280 * 16 + x], 0) << x;
        ASSERT_EQ(out[280 * 15 + x], 127) << x;  // averaged, rounded down
        ASSERT_EQ(out[280 * 0 + x], 2) << x;     // output row 0 is raw row 2
    }
    for (int x = 1; x < 280; ++x) ASSERT_EQ(out[280 * 319 + x], 301 % 200) << x;
    // Model 5 bends the rows, but the averaged rows are still the means of
    // their neighbours, and the bottom row's centre comes from 6 rows up.
    std::vector<uint8_t> bent = Corrected(raw, 5);
    for (int d : {15, 30, 152, 305})
        for (int x = 0; x < 280; ++x)
            ASSERT_EQ(bent[280 * d + x], (bent[280 * (d - 1) + x] + bent[280 * (d + 1) + x]) >> 1) << d;
    EXPECT_EQ(bent[280 * 319 + 140], (301 - 6) % 200);
}

// The whole raw frame is read before the output is written, so a caller
// may correct a frame in place, into the start of its own raw buffer.
TEST(Correction, InPlaceIntoTheRawBuffer) {
    for (int model : {3, 5}) {
        std::vector<uint8_t> raw = acq::TestPicture(31 + model);
        std::vector<uint8_t> expected = Corrected(raw, model);
        std::vector<uint8_t> shared = raw;
        kx::SetCurrentModel(model);
        ASSERT_EQ(NFP_CorrectImage(shared.data(), shared.data()), NFP_OK);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), shared.begin())) << "model " << model;
    }
}

TEST(Correction, NoWorkingMemory) {
    kx::host::Reset();
    std::vector<uint8_t> raw = acq::TestPicture(5), out(280 * 320, 0xEE);
    for (int model : {3, 5}) {
        kx::SetCurrentModel(model);
        kx::host::FailAllocation(1);
        EXPECT_EQ(NFP_CorrectImage(raw.data(), out.data()), NFP_ERR_GENERAL);
        EXPECT_EQ(kx::host::LastAllocationSize(), 84560u);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xEE; }));
    }
    EXPECT_EQ(kx::host::LiveBlocks(), 0);
}

TEST(Correction, FormFollowsTheLastCapture) {
    std::vector<uint8_t> picture = acq::TestPicture(8);
    std::vector<uint8_t> raw(acq::kRawSize);
    struct Case {
        char model;
        bool identityFails;
        const Form *form;
    } cases[] = {{'5', false, &kModel5}, {'4', false, &kStandard}, {'5', true, &kStandard},
                 {'3', false, &kStandard}};
    for (const Case &c : cases) {
        ReaderRig rig(c.model);
        rig.Start(picture.data());
        if (c.identityFails) rig.reader->AddFault(kx::REQ_MEMORY_READ, 0);
        std::vector<uint8_t> scratch(acq::kRawSize);
        NFP_Capture(rig.device, 0, scratch.data());
        std::vector<uint8_t> out(280 * 320);
        ASSERT_EQ(NFP_CorrectImage(picture.data(), out.data()), NFP_OK);
        EXPECT_EQ(out, Reference(picture.data(), *c.form)) << c.model;
    }
}

TEST(Correction, CaptureImage) {
    std::vector<uint8_t> picture = acq::TestPicture(9);
    for (char model : {'3', '4', '5'}) {
        ReaderRig rig(model);
        rig.Start(picture.data());
        std::vector<uint8_t> out(280 * 320, 0xEE);
        ASSERT_EQ(NFP_CaptureImage(rig.device, 0x21, out.data()), NFP_OK) << model;
        // A model-3 stream leaves columns 398 and 399 as the cleared raw
        // buffer had them: zero, never old heap bytes.
        std::vector<uint8_t> raw = picture;
        if (model == '3')
            for (int k = 0; k < 302; ++k) raw[400 * k + 398] = raw[400 * k + 399] = 0;
        EXPECT_EQ(out, Reference(raw.data(), model == '5' ? kModel5 : kStandard)) << model;
        EXPECT_EQ(kx::host::LiveBlocks(), 0);
        EXPECT_EQ(rig.reader->Register(38), 0x21);
    }
    // A capture that fails is not corrected.
    ReaderRig rig('3');
    rig.description.faults[0] = {kx::REQ_TRANSFER_START, 0, 0};
    rig.description.faultCount = 1;
    rig.Start(picture.data());
    std::vector<uint8_t> out(280 * 320, 0xEE);
    EXPECT_EQ(NFP_CaptureImage(rig.device, 0, out.data()), NFP_ERR_TRANSFER_START);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xEE; }));
}

}  // namespace
