// correction.cpp - NFP_CorrectImage and NFP_CaptureImage.
//
// The horizontal stage is computed without evaluating every pixel. Where a
// column lands, x_k(i) = trunc(f_k(i)), is monotone in the column and in
// the row, and neighbouring columns land at most one apart. So a position
// p takes its pixel from column B(p + 1) - 1, where B(p) is the first
// column landing at p or beyond, and from one row to the next only a few
// columns move by one position (about 2100 moves a frame, 2600 in model
// 5), each moving exactly one boundary. The rows are walked top to bottom
// and every column's next move is put into the list of the row where it
// happens. That row is predicted from the column's exact values in the top
// and bottom rows (f is affine in the row up to a rounding of about 1e-13)
// and taken only where the prediction lies clearly on each side of the
// threshold in the two rows around it; otherwise the exact arithmetic
// decides. Every landing is therefore the one the stated double-precision
// arithmetic gives, bit for bit; the tests compare with a plain reference.
//
// The pixels then move with one shuffle pair per 16 output bytes where the
// processor has SSSE3, byte by byte otherwise. Each horizontally corrected
// row goes straight to its output row; the work block holds the tables and
// the two top rows, which no output row takes but whose row buffer values
// a position left unreached would keep.
#include "correction.h"

#include <emmintrin.h>
#include <math.h>
#include <string.h>
#include <tmmintrin.h>

#include <new>

#include "KX7300V20.h"
#include "../seam/system.h"
#include "capture.h"

namespace kx {

namespace {

constexpr int kRawWidth = 400;
constexpr int kRawRows = 302;
constexpr int kW = kCorrectedWidth;
constexpr int kBlocks = (kW + 15) / 16;  // 18; the last holds 8 positions
constexpr int kOutside = -1;             // clamped landing left of 0
constexpr int kBeyond = kW;              // clamped landing at 280 or more
constexpr double kMargin = 1e-7;         // far above the 1e-12 the prediction can be off

// Shift height of the model-5 bow for raw row k.
inline int BowHeight(int k) { return k <= 100 ? 4 : k <= 201 ? 5 : 6; }

inline int Clamp(int x) { return x < 0 ? kOutside : x > kW - 1 ? kBeyond : x; }

// Output row of working row j + 2.
inline int OutputRow(int j, CorrectionForm form) {
    return form == CorrectionForm::kModel5
               ? static_cast<int>(static_cast<double>(j) * 321.0 * (1.0 / 300))
               : static_cast<int>(static_cast<double>(j) * kRowSpread);
}

// The stated arithmetic of the horizontal stage.
struct Arithmetic {
    explicit Arithmetic(CorrectionForm form) {
        const bool model5 = form == CorrectionForm::kModel5;
        const float slope = model5 ? kSlopeModel5 : kSlopeStandard;
        const double base = model5 ? kBaseModel5 : kBaseStandard;
        for (int k = 0; k < kRawRows; ++k)
            s[k] = static_cast<double>(kRawRows - 1 - k) * slope * kSlopeScale + base;
    }
    double F(int k, int i) const {
        return (static_cast<double>(i - 200) * s[k] + kColumnCentre) * kColumnScale + kColumnOffset;
    }
    int X(int k, int i) const { return Clamp(static_cast<int>(F(k, i))); }
    double s[kRawRows];
};

inline double BowOf(int i, int h) {
    return ((static_cast<double>(i) - static_cast<double>(i * i) / 400) * h * 4) / 400;
}

// Row offsets of the model-5 bow: the pixel of column i in raw row k comes
// from raw row max(k - lift, 0), lift = ceil(bow) (bow itself when it is
// whole). That equals trunc(max(k - bow, 0)) unless bow lies within 1e-6
// above a whole number, where k - bow could round onto it; such columns
// keep the exact arithmetic. The bow rises to h at column 200 and falls
// after it (in double arithmetic too), so the columns of one lift form
// runs whose ends a binary search finds.
struct Bow {
    struct Run {
        int16_t first, end;  // columns [first, end)
        int8_t lift;
    };
    void Build(int h) {
        runs = 0;
        exactCount = 0;
        // Rising side, columns 0..200: lift >= m from the first column
        // whose bow exceeds m - 1. Falling side, 201..399: lift < m from
        // the first column whose bow is m - 1 or less.
        int start = 0;
        for (int m = 1; m <= h + 1; ++m) {
            const int end = m <= h ? FirstColumn(h, m - 1, true, start, 201) : 201;
            Add(start, end, m - 1, h, true);
            start = end;
        }
        for (int m = h; m >= 1; --m) {
            const int end = FirstColumn(h, m - 1, false, start, kRawWidth);
            Add(start, end, m, h, false);
            start = end;
        }
        Add(start, kRawWidth, 0, h, false);
    }
    // The first column in [lo, hi) whose bow is above `level` (rising) or
    // at most `level` (falling), hi if none: guessed from the parabola,
    // bow = h (i - i^2 / 400) / 100, then settled by the exact values, the
    // bow being monotone on each side.
    static int FirstColumn(int h, int level, bool rising, int lo, int hi) {
        auto past = [&](int i) { return rising ? BowOf(i, h) > level : BowOf(i, h) <= level; };
        const double root = sqrt(1.0 - static_cast<double>(level) / h);
        int i = static_cast<int>(200 * (rising ? 1 - root : 1 + root));
        if (i < lo) i = lo;
        if (i > hi) i = hi;
        while (i > lo && past(i - 1)) --i;
        while (i < hi && !past(i)) ++i;
        return i;
    }
    void Add(int first, int end, int lift, int h, bool rising) {
        if (first >= end) return;
        run[runs++] = Run{static_cast<int16_t>(first), static_cast<int16_t>(end), static_cast<int8_t>(lift)};
        // The column of the run nearest above the whole number lift - 1.
        const int edge = rising ? first : end - 1;
        const double bow = BowOf(edge, h);
        if (lift > 0 && bow - (lift - 1) < 1e-6) {
            exact[exactCount] = static_cast<int16_t>(edge);
            exactBow[exactCount++] = bow;
        }
    }
    // Raw row k as the bow sees it, into row (400 bytes and 16 spare).
    // Runs go left to right in 16-byte copies that may spill into the next
    // run, which then overwrites the spill; near the end of the image the
    // bytes go one by one so that nothing is read past it.
    void Bend(const uint8_t *raw, int k, uint8_t *row) const {
        const uint8_t *end = raw + kRawWidth * kRawRows;
        for (int r = 0; r < runs; ++r) {
            const int from = k - run[r].lift < 0 ? 0 : k - run[r].lift;
            const uint8_t *in = raw + kRawWidth * from;
            int c = run[r].first;
            for (; c < run[r].end && in + c + 16 <= end; c += 16)
                _mm_storeu_si128(reinterpret_cast<__m128i *>(row + c),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + c)));
            for (; c < run[r].end; ++c) row[c] = in[c];
        }
        for (int e = 0; e < exactCount; ++e) {
            double from = static_cast<double>(k) - exactBow[e];
            if (from < 0) from = 0;
            row[exact[e]] = raw[kRawWidth * static_cast<int>(from) + exact[e]];
        }
    }
    Run run[2 * 8 + 2];
    int runs;
    int16_t exact[2 * 8 + 2];
    double exactBow[2 * 8 + 2];
    int exactCount;
};

// Where every position of the current row takes its pixel from, and (for
// the shuffle) the controls of each block of 16 positions: lane j of block
// q takes byte low[q][j] of the window at base[q], or byte high[q][j] of
// the window 16 further on (bit 7 set: neither). A block's sources span
// at most 30 columns (two per position at the most), so two windows hold
// them.
class Landings {
  public:
    Landings(CorrectionForm form, bool shuffle) : shuffle_(shuffle) {
        const Arithmetic a(form);
        double top[kRawWidth], perRow[kRawWidth], rowsPerUnit[kRawWidth];
        int16_t last[kRawWidth];
        for (int i = 0; i < kRawWidth; ++i) {
            top[i] = a.F(0, i);
            const double bottom = a.F(kRawRows - 1, i);
            perRow[i] = (bottom - top[i]) / (kRawRows - 1);
            rowsPerUnit[i] = (kRawRows - 1) / (bottom - top[i]);
            x_[i] = static_cast<int16_t>(Clamp(static_cast<int>(top[i])));
            last[i] = static_cast<int16_t>(Clamp(static_cast<int>(bottom)));
            step_[i] = static_cast<int8_t>(last[i] > x_[i] ? 1 : -1);
        }
        int boundary = 0;  // B(p) for the next p, walking the top row
        for (int i = 0; i < kRawWidth; ++i)
            for (; boundary <= x_[i] && boundary <= kW; ++boundary)
                if (boundary > 0) source_[boundary - 1] = static_cast<int16_t>(i - 1);
        for (; boundary <= kW; ++boundary)
            if (boundary > 0) source_[boundary - 1] = kRawWidth - 1;
        for (int p = kW; p < 16 * kBlocks; ++p) source_[p] = -1;
        memset(moving_, 0, sizeof moving_);
        for (int i = 0; i < kRawWidth; ++i)
            if (x_[i] != last[i]) Moves(a, i, top[i], perRow[i], rowsPerUnit[i], x_[i], last[i]);
        if (shuffle_)
            for (int q = 0; q < kBlocks; ++q) Rebuild(q);
    }

    // Applies the moves of row k (k > 0). A column moving up from v becomes
    // the first at v + 1, so v takes the column before it; moving down
    // from v, the next column becomes the first at v, which v - 1 now
    // takes. Two columns never cross one threshold in the same row (their
    // f differ by 0.7 or more, f changes by 0.05 a row at most), so the
    // moves of a row are independent. The ends that no column reaches
    // are filled from the row above and need no source.
    void Advance(int k) {
        uint32_t dirty = 0;
        for (int w = 0; w < kWords; ++w) {
            for (uint64_t bits = moving_[k][w]; bits; bits &= bits - 1) {
                const int i = 64 * w + __builtin_ctzll(bits);
                const int was = x_[i], up = step_[i] > 0;
                x_[i] = static_cast<int16_t>(was + step_[i]);
                const int p = was - 1 + up;
                if (static_cast<unsigned>(p) < static_cast<unsigned>(kW)) {
                    source_[p] = static_cast<int16_t>(i - up);
                    dirty |= 1u << (p >> 4);
                }
            }
        }
        if (shuffle_)
            for (; dirty; dirty &= dirty - 1) Rebuild(__builtin_ctz(dirty));
    }

    // Positions [First(), Last()] are reached; the others keep the row
    // buffer's value. Columns land at most one apart, so only the ends can
    // be unreached.
    int First() const { return x_[0] < 0 ? 0 : x_[0]; }
    int Last() const { return x_[kRawWidth - 1] > kW - 1 ? kW - 1 : x_[kRawWidth - 1]; }
    int Source(int p) const { return source_[p]; }

    alignas(16) uint8_t low[kBlocks][16];
    alignas(16) uint8_t high[kBlocks][16];
    int base[kBlocks];

  private:
    // Marks the rows of column i's moves from `from` to `last`. Reaching
    // `to` is f >= to moving up and f < to + 1 moving down; at the left
    // edge f > -1 and f <= -1, for trunc rounds toward zero. The row is the
    // first at or past the predicted crossing, taken when the prediction
    // in it and in the row before lies clearly on either side; else the
    // exact arithmetic finds it.
    void Moves(const Arithmetic &a, int i, double top, double perRow, double rowsPerUnit, int from,
               int last) {
        const bool up = last > from;
        const double sign = up ? 1 : -1;
        const uint64_t bit = 1ull << (i & 63);
        const int word = i >> 6;
        int after = 0;
        for (int to = from + (up ? 1 : -1);; to += up ? 1 : -1) {
            double theta = up ? to : to + 1;
            if (theta == 0) theta = -1;
            const double at = (theta - top) * rowsPerUnit;
            int t = static_cast<int>(at);
            t += t < at;
            const bool clear = t > after && t < kRawRows &&
                               sign * (top + t * perRow - theta) > kMargin &&
                               sign * (theta - (top + (t - 1) * perRow)) > kMargin;
            if (!clear) t = ExactRow(a, i, after, t, up, to);
            moving_[t][word] |= bit;
            after = t;
            if (to == last) return;
        }
    }

    // The first row after `after` where column i has reached `to`, by the
    // exact arithmetic, searched from near the guess (it is monotone).
    static int ExactRow(const Arithmetic &a, int i, int after, int guess, bool up, int to) {
        auto reached = [&](int k) { return up ? a.X(k, i) >= to : a.X(k, i) <= to; };
        int k = guess - 3;
        if (k < after + 1) k = after + 1;
        if (k > kRawRows - 1) k = kRawRows - 1;
        while (k > after + 1 && reached(k - 1)) --k;
        while (!reached(k)) ++k;
        return k;
    }

    // The controls of block q from its 16 sources: the window starts at
    // the first source there is (sources rise along a row; only unreached
    // positions at the left end have none), at most 368 so that both
    // windows stay in the row.
    void Rebuild(int q) {
        const __m128i *at = reinterpret_cast<const __m128i *>(source_ + 16 * q);
        const __m128i s0 = _mm_load_si128(at), s1 = _mm_load_si128(at + 1);
        const __m128i none = _mm_set1_epi16(0x7FFF);
        const __m128i neg0 = _mm_cmplt_epi16(s0, _mm_setzero_si128());
        const __m128i neg1 = _mm_cmplt_epi16(s1, _mm_setzero_si128());
        __m128i m = _mm_min_epi16(_mm_or_si128(_mm_andnot_si128(neg0, s0), _mm_and_si128(neg0, none)),
                                  _mm_or_si128(_mm_andnot_si128(neg1, s1), _mm_and_si128(neg1, none)));
        m = _mm_min_epi16(m, _mm_shuffle_epi32(m, 0x4E));
        m = _mm_min_epi16(m, _mm_shuffle_epi32(m, 0xB1));
        m = _mm_min_epi16(m, _mm_shufflelo_epi16(m, 0xB1));
        int b = static_cast<int16_t>(_mm_cvtsi128_si32(m));
        if (b == 0x7FFF) b = 0;
        if (b > kRawWidth - 32) b = kRawWidth - 32;
        base[q] = b;
        // Offsets from the window: 0..31, or negative where there is no source.
        const __m128i bb = _mm_set1_epi16(static_cast<int16_t>(b));
        const __m128i o0 = _mm_or_si128(_mm_sub_epi16(s0, bb), neg0);
        const __m128i o1 = _mm_or_si128(_mm_sub_epi16(s1, bb), neg1);
        const __m128i offset = _mm_packs_epi16(o0, o1);
        // A shuffle control with bit 7 set gives zero.
        const __m128i beyond = _mm_and_si128(_mm_cmpgt_epi8(offset, _mm_set1_epi8(15)), _mm_set1_epi8(static_cast<char>(0x80)));
        _mm_store_si128(reinterpret_cast<__m128i *>(low[q]), _mm_or_si128(offset, beyond));
        _mm_store_si128(reinterpret_cast<__m128i *>(high[q]), _mm_sub_epi8(offset, _mm_set1_epi8(16)));
    }

    static constexpr int kWords = (kRawWidth + 63) / 64;
    const bool shuffle_;
    int16_t x_[kRawWidth];    // clamped landing in the current row
    int8_t step_[kRawWidth];  // +1: moves right as the rows go down
    alignas(16) int16_t source_[16 * kBlocks];  // the column each position takes
    uint64_t moving_[kRawRows][kWords];  // the columns that move in each row
};

// Byte by byte.
void GatherPortable(const Landings &l, const uint8_t *src, uint8_t *dst) {
    const int last = l.Last();
    for (int p = l.First(); p <= last; ++p) dst[p] = src[l.Source(p)];
}

__attribute__((target("ssse3"))) void GatherShuffled(const Landings &l, const uint8_t *src, uint8_t *dst) {
    for (int q = 0; q < kBlocks; ++q) {
        const uint8_t *window = src + l.base[q];
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(window));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(window + 16));
        const __m128i low = _mm_load_si128(reinterpret_cast<const __m128i *>(l.low[q]));
        const __m128i high = _mm_load_si128(reinterpret_cast<const __m128i *>(l.high[q]));
        const __m128i v = _mm_or_si128(_mm_shuffle_epi8(a, low), _mm_shuffle_epi8(c, high));
        if (q < kBlocks - 1)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 16 * q), v);
        else
            _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + 16 * q), v);
    }
}

bool HaveShuffle() {
    static const bool have = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return have;
}

// Rounded-down mean of two rows.
void Average(const uint8_t *a, const uint8_t *b, uint8_t *out) {
    int m = 0;
    const __m128i one = _mm_set1_epi8(1);
    for (; m + 16 <= kW; m += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + m));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + m));
        // avg rounds up; take the odd sums' extra one back.
        const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(x, y), _mm_and_si128(_mm_xor_si128(x, y), one));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + m), mean);
    }
    for (; m < kW; ++m) out[m] = static_cast<uint8_t>((a[m] + b[m]) >> 1);
}

// What the work block holds.
struct Scratch {
    Scratch(CorrectionForm form, bool shuffle) : landings(form, shuffle) {}
    Landings landings;
    Bow bow;
    uint8_t top[2][kW];  // working rows 0 and 1
    // Model 5: raw rows as the bow sees them, each made a row ahead of its
    // use, so that the shuffle's loads never wait on the copies' stores.
    uint8_t bent[2][kRawWidth + 16];
};
static_assert(sizeof(Scratch) + alignof(Scratch) <= static_cast<size_t>(kWorkingSize),
              "the tables must fit the work block");

}  // namespace

void Correct(const uint8_t *raw, uint8_t *work, uint8_t *corrected, CorrectionForm form,
             CorrectionPath path) {
    const bool model5 = form == CorrectionForm::kModel5;
    const bool shuffle = path == CorrectionPath::kFastest && HaveShuffle();
    void *at = work + (alignof(Scratch) - reinterpret_cast<uintptr_t>(work) % alignof(Scratch)) % alignof(Scratch);
    Scratch *scratch = new (at) Scratch(form, shuffle);
    Landings &landings = scratch->landings;
    int bowHeight = 0;
    auto bend = [&](int k) {
        if (BowHeight(k) != bowHeight) scratch->bow.Build(bowHeight = BowHeight(k));
        scratch->bow.Bend(raw, k, scratch->bent[k & 1]);
    };
    if (model5) bend(0);
    // Every position is reached in the top row, so the row buffer's start
    // value never shows; zero keeps it defined all the same.
    static const uint8_t kZeroRow[kW] = {};
    const uint8_t *above = kZeroRow;
    for (int k = 0; k < kRawRows; ++k) {
        if (k > 0) landings.Advance(k);
        const uint8_t *src = raw + kRawWidth * k;
        if (model5) {
            if (k + 1 < kRawRows) bend(k + 1);
            src = scratch->bent[k & 1];
        }
        uint8_t *dst = k < 2 ? scratch->top[k] : corrected + kW * OutputRow(k - 2, form);
        if (shuffle)
            GatherShuffled(landings, src, dst);
        else
            GatherPortable(landings, src, dst);
        // Positions no column reaches keep the row buffer's value, which
        // is the row above's.
        for (int p = 0; p < landings.First(); ++p) dst[p] = above[p];
        for (int p = landings.Last() + 1; p < kW; ++p) dst[p] = above[p];
        above = dst;
    }
    // The rows the spreading skips: the rounded-down mean of their
    // neighbours.
    int prev = 0;
    for (int j = 1; j < kRawRows - 2; ++j) {
        const int d = OutputRow(j, form);
        if (d - prev > 1) Average(corrected + kW * d, corrected + kW * prev, corrected + kW * (d - 1));
        prev = d;
    }
    scratch->~Scratch();
}

}  // namespace kx

using namespace kx;

extern "C" int NFP_CALL NFP_CorrectImage(const unsigned char *raw, unsigned char *corrected) {
    uint8_t *work = static_cast<uint8_t *>(System().allocate(kWorkingSize));
    if (!work) return NFP_ERR_GENERAL;
    Correct(raw, work, corrected, CorrectionFor(CurrentModel()));
    System().release(work);
    return NFP_OK;
}

extern "C" int NFP_CALL NFP_CaptureImage(HANDLE device, int register38,
                                         unsigned char *corrected) {
    uint8_t *raw = static_cast<uint8_t *>(System().allocate(NFP_RAW_SIZE));
    if (!raw) return NFP_ERR_NO_IMAGE_MEMORY;
    // Cleared so that the columns a model-3 stream never writes (398, 399)
    // hold zeros rather than old heap bytes when they reach the output.
    memset(raw, 0, NFP_RAW_SIZE);
    int r = NFP_Capture(device, register38, raw);
    if (r == NFP_OK) r = NFP_CorrectImage(raw, corrected);
    System().release(raw);
    return r;
}
