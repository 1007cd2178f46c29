// correction.cpp - NFP_CorrectImage and NFP_CaptureImage.
//
// The horizontal stage is computed without evaluating every pixel. Where a
// column lands, x_k(i) = trunc(f_k(i)), is monotone in the column and in
// the row, and neighbouring columns land at most one apart. So a position
// p takes its pixel from column B(p + 1) - 1, where B(p) is the first
// column landing at p or beyond, and from one row to the next only a few
// columns move by one position (about 2100 moves a frame, 2600 in model
// 5), each changing the source of one position by one. Each column's moves
// are found from its exact values in the top and bottom rows (f is affine
// in the row up to a rounding of about 1e-12), stepping from threshold to
// threshold, and taken only where the crossing lies clearly between two
// rows; otherwise the exact arithmetic decides. Every landing is therefore
// the one the stated double-precision arithmetic gives, bit for bit; the
// tests compare with a plain reference.
//
// The pixels then move with one shuffle pair per 16 output bytes where the
// processor has SSSE3, byte by byte otherwise; a move rewrites one control
// byte. Each horizontally corrected row goes straight to its output row,
// and a skipped output row is averaged as soon as its lower neighbour is
// written; the work block holds the tables and the two top rows, which no
// output row takes but whose row buffer values a position left unreached
// would keep.
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

// The stated arithmetic of the horizontal stage: the row factor of raw
// row k, and where column i lands with it (before truncation).
struct Arithmetic {
    explicit Arithmetic(CorrectionForm form)
        : slope(form == CorrectionForm::kModel5 ? kSlopeModel5 : kSlopeStandard),
          base(form == CorrectionForm::kModel5 ? kBaseModel5 : kBaseStandard) {}
    double S(int k) const { return static_cast<double>(kRawRows - 1 - k) * slope * kSlopeScale + base; }
    static double F(double s, int i) {
        return (static_cast<double>(i - 200) * s + kColumnCentre) * kColumnScale + kColumnOffset;
    }
    float slope;
    double base;
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
        Parts();
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
    // Raw row k as the bow sees it, into row (400 bytes and 16 spare), in
    // 16-byte blocks: a block within one run is copied, one holding two
    // runs blends their rows. Every byte is stored once, so the shuffle's
    // later loads never straddle overlapping stores; 400 is 25 blocks, so
    // nothing is read past the image.
    void Bend(const uint8_t *raw, int k, uint8_t *row) const {
        const uint8_t *from[kMaxLift + 1];
        for (int lift = 0; lift <= kMaxLift; ++lift) from[lift] = raw + (k < lift ? 0 : kRawWidth * (k - lift));
        if (twoAtMost)
            Blocks(from, row);
        else  // not seen; kept so that a narrower run stays exact
            for (int r = 0; r < runs; ++r)
                for (int c = run[r].first; c < run[r].end; ++c) row[c] = from[run[r].lift][c];
        row[0] = raw[kRawWidth * k];  // column 0 has no bow
        for (int e = 0; e < exactCount; ++e) {
            double from = static_cast<double>(k) - exactBow[e];
            if (from < 0) from = 0;
            row[exact[e]] = raw[kRawWidth * static_cast<int>(from) + exact[e]];
        }
    }
    void Blocks(const uint8_t *const *from, uint8_t *row) const {
        for (int n = 0; n < singles; ++n) {
            const int b = single[n];
            _mm_storeu_si128(reinterpret_cast<__m128i *>(row + 16 * b),
                             _mm_loadu_si128(reinterpret_cast<const __m128i *>(from[part[b].lift[0]] + 16 * b)));
        }
        for (int n = 0; n < multis; ++n) {
            const int b = multi[n];
            const __m128i m = part[b].mask;
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from[part[b].lift[0]] + 16 * b));
            const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from[part[b].lift[1]] + 16 * b));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(row + 16 * b),
                             _mm_or_si128(_mm_and_si128(m, w), _mm_andnot_si128(m, v)));
        }
    }
    // Splits the runs at the block edges. Past column 0 (which has no bow
    // and is copied on its own) every run is over 16 columns wide, so a
    // block holds one or two; mask marks the second's lanes.
    void Parts() {
        twoAtMost = true;
        int used[kBendBlocks];
        const __m128i lane = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        for (int b = 0, r = 0; b < kBendBlocks; ++b) {
            const int lo = b == 0 ? 1 : 16 * b;
            while (run[r].end <= lo) ++r;
            used[b] = 0;
            part[b].mask = _mm_setzero_si128();
            for (int t = r; t < runs && run[t].first < 16 * b + 16 && used[b] < 2; ++t) {
                if (used[b] == 1)
                    part[b].mask = _mm_cmpgt_epi8(lane, _mm_set1_epi8(static_cast<char>(run[t].first - 16 * b - 1)));
                part[b].lift[used[b]++] = run[t].lift;
            }
            const int next = r + used[b];
            if (next < runs && run[next].first < 16 * b + 16) twoAtMost = false;
        }
        singles = multis = 0;
        for (int b = 0; b < kBendBlocks; ++b) {
            if (used[b] == 1)
                single[singles++] = static_cast<int8_t>(b);
            else
                multi[multis++] = static_cast<int8_t>(b);
        }
    }
    static constexpr int kMaxLift = 6;
    static constexpr int kBendBlocks = kRawWidth / 16;
    static_assert(kRawWidth % 16 == 0, "a raw row is whole blocks");
    struct Part {
        __m128i mask;
        int8_t lift[2];
    };
    Part part[kBendBlocks];
    int8_t single[kBendBlocks], multi[kBendBlocks];  // blocks of one run, of more
    int singles, multis;
    bool twoAtMost;
    Run run[2 * 8 + 2];
    int runs;
    int16_t exact[2 * 8 + 2];
    double exactBow[2 * 8 + 2];
    int exactCount;
};

// Where every position of the current row takes its pixel from, and (for
// the shuffle) one control byte per position: lane j of block q takes
// byte o of the 32 bytes at base[q], held as o + 0x70, so that bit 7 says
// "not in the first 16" and bit 7 of the byte XOR 0x80 "not in the last
// 16", which is how the shuffle reads them. A block's sources span at most
// 30 columns (two per position at the most), so one window holds them; a
// move rewrites only its lane, and the window moves only when a source
// leaves it, to the far side so that it lasts.
//
// Position p takes column B(p + 1) - 1, B(p) being the first column that
// lands at p or beyond. A column moving up from v becomes the first at
// v + 1, so v takes the column before: its source falls by one. A column
// moving down to v - 1 makes the next column the first at v, so v - 1
// takes the column after: its source rises by one. Two columns never
// cross one threshold in the same row (their f differ by 0.7 or more, f
// changes by 0.05 a row at most), so each move changes one position by
// one, and the moves of a row are independent: they are kept as two bit
// sets of positions a row.
class Landings {
  public:
    explicit Landings(CorrectionForm form) : arithmetic_(form) {
        const double sTop = arithmetic_.S(0), sBottom = arithmetic_.S(kRawRows - 1);
        int16_t first[kRawWidth];
        memset(moves_, 0, sizeof moves_);
        for (int i = 0; i < kRawWidth; ++i) {
            const double top = Arithmetic::F(sTop, i), bottom = Arithmetic::F(sBottom, i);
            first[i] = static_cast<int16_t>(Clamp(static_cast<int>(top)));
            const int last = Clamp(static_cast<int>(bottom));
            if (last != first[i]) Moves(i, top, bottom, first[i], last);
        }
        int boundary = 0;  // B(p) for the next p, walking the top row
        for (int i = 0; i < kRawWidth; ++i)
            for (; boundary <= first[i] && boundary <= kW; ++boundary)
                if (boundary > 0) source_[boundary - 1] = static_cast<int16_t>(i - 1);
        for (; boundary <= kW; ++boundary)
            if (boundary > 0) source_[boundary - 1] = kRawWidth - 1;
        for (int p = kW; p < 16 * kBlocks; ++p) source_[p] = -1;
        for (int q = 0; q < kBlocks; ++q) Rebase(q, 0);
        Ends(0);
    }

    // Makes the moves of row k (k > 0).
    void Advance(int k) {
        uint32_t below = 0, above = 0;  // blocks whose window a source left
        for (int w = 0; w < kWords; ++w) {
            for (uint64_t bits = moves_[k * kRowWords + kFall * kWords + w]; bits; bits &= bits - 1) {
                const int p = 64 * w + __builtin_ctzll(bits);
                const int offset = --source_[p] - base[p >> 4];
                if (offset < 0)
                    below |= 1u << (p >> 4);
                else
                    control[p] = static_cast<uint8_t>(offset + 0x70);
            }
            for (uint64_t bits = moves_[k * kRowWords + kRise * kWords + w]; bits; bits &= bits - 1) {
                const int p = 64 * w + __builtin_ctzll(bits);
                const int offset = ++source_[p] - base[p >> 4];
                if (offset > 31)
                    above |= 1u << (p >> 4);
                else
                    control[p] = static_cast<uint8_t>(offset + 0x70);
            }
        }
        for (; below; below &= below - 1) Rebase(__builtin_ctz(below), -1);
        for (; above; above &= above - 1) Rebase(__builtin_ctz(above), 1);
        Ends(k);
    }

    // Positions [First(), Last()] are reached; the others keep the row
    // buffer's value. Columns land at most one apart, so only the ends can
    // be unreached: before where column 0 lands, after where 399 does.
    int First() const { return first_; }
    int Last() const { return last_; }
    int Source(int p) const { return source_[p]; }

    alignas(16) uint8_t control[16 * kBlocks];
    int base[kBlocks];

  private:
    enum { kFall, kRise };

    // Marks the rows of column i's moves from `from` to `last`. Reaching
    // `to` is f >= to moving up and f < to + 1 moving down: crossing a
    // threshold, which trunc toward zero puts at -1 instead of 0. f is
    // affine in the row up to a rounding of about 1e-12, so the row is the
    // first past the crossing of the line through the top and bottom
    // values, taken when that crossing lies clearly (1e-7 in f) between
    // two rows; else the exact arithmetic finds it. The crossings of
    // successive thresholds lie |rows per unit| apart: they are stepped in
    // 32.32 fixed point, whose rounding (a unit a step) the margin covers
    // many times over.
    void Moves(int i, double top, double bottom, int from, int last) {
        const bool up = last > from;
        const int step = up ? 1 : -1;
        const double rowsPerUnit = (kRawRows - 1) / (bottom - top);
        uint64_t *const set = moves_ + (up ? kFall : kRise) * kWords;
        int to = from + step, p = up ? from : from - 1;  // the move to `to` changes p
        int after = 0;
        auto mark = [&](int t) {
            if (static_cast<unsigned>(p) < static_cast<unsigned>(kW))
                set[t * kRowWords + (p >> 6)] |= 1ull << (p & 63);
            after = t;
        };
        // The moves between -1 and 0 change position -1, which is none;
        // they cross -1 rather than the next stepped threshold, 0.
        if (up && from == kOutside) {
            to += step;
            p += step;
        }
        const int stepped = (up ? last - to : to - last) + 1 - (!up && last == kOutside);
        const double kUnit = 4294967296.0;
        const double start = ((up ? to : to + 1) - top) * rowsPerUnit;  // >= 0: the top row is before it
        uint64_t at = start > 0 ? static_cast<uint64_t>(start * kUnit) : 0;
        const uint64_t apart = static_cast<uint64_t>(fabs(rowsPerUnit) * kUnit);
        const uint32_t margin = static_cast<uint32_t>(kMargin * fabs(rowsPerUnit) * kUnit) + 1024;
        for (int n = 0; n < stepped; ++n, at += apart, to += step, p += step) {
            int t = static_cast<int>(at >> 32) + 1;
            // Clear of both rows: margin < the fraction < 1 - margin.
            if (static_cast<uint32_t>(at) - (margin + 1) > ~(2 * margin + 1) || t >= kRawRows)
                t = ExactRow(i, after, t, up, to);
            mark(t);
        }
    }

    // The first row after `after` where column i has reached `to`, by the
    // exact arithmetic, searched from near the guess (it is monotone).
    int ExactRow(int i, int after, int guess, bool up, int to) const {
        auto reached = [&](int k) {
            const int x = Clamp(static_cast<int>(Arithmetic::F(arithmetic_.S(k), i)));
            return up ? x >= to : x <= to;
        };
        int k = guess - 3;
        if (k < after + 1) k = after + 1;
        if (k > kRawRows - 1) k = kRawRows - 1;
        while (k > after + 1 && reached(k - 1)) --k;
        while (!reached(k)) ++k;
        return k;
    }

    void Ends(int k) {
        const double s = arithmetic_.S(k);
        const int x0 = Clamp(static_cast<int>(Arithmetic::F(s, 0)));
        const int x399 = Clamp(static_cast<int>(Arithmetic::F(s, kRawWidth - 1)));
        first_ = x0 < 0 ? 0 : x0;
        last_ = x399 > kW - 1 ? kW - 1 : x399;
    }

    // Places the window of block q over its sources: as far below them as
    // it goes when they fall (side < 0), above when they rise (side > 0),
    // centred at the start; at most 368 so that the window stays in the
    // row. Positions without a source (unreached left end, past 280) read
    // anything: their bytes are replaced or not stored.
    void Rebase(int q, int side) {
        const int16_t *s = source_ + 16 * q;
        int low = kRawWidth, high = -1;
        for (int j = 0; j < 16; ++j)
            if (s[j] >= 0) {
                if (s[j] < low) low = s[j];
                if (s[j] > high) high = s[j];
            }
        int b = 0;
        if (high >= 0) b = side < 0 ? high - 31 : side > 0 ? low : low - (31 - (high - low)) / 2;
        if (b < 0) b = 0;
        if (b > kRawWidth - 32) b = kRawWidth - 32;
        base[q] = b;
        for (int j = 0; j < 16; ++j)
            control[16 * q + j] = static_cast<uint8_t>((s[j] >= 0 ? s[j] - b : 0) + 0x70);
    }

    static constexpr int kWords = (16 * kBlocks + 63) / 64;
    static constexpr int kRowWords = 2 * kWords;
    const Arithmetic arithmetic_;
    int first_, last_;
    int16_t source_[16 * kBlocks];  // the column each position takes, -1 none
    // Each row's positions whose source falls, then those whose source rises.
    uint64_t moves_[kRawRows * kRowWords];
};

// Byte by byte.
void GatherPortable(const Landings &l, const uint8_t *src, uint8_t *dst) {
    const int last = l.Last();
    for (int p = l.First(); p <= last; ++p) dst[p] = src[l.Source(p)];
}

// 16 positions from their window.
__attribute__((target("ssse3"))) inline __m128i Shuffled(const Landings &l, const uint8_t *src, int q) {
    const uint8_t *window = src + l.base[q];
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(window));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(window + 16));
    const __m128i c = _mm_load_si128(reinterpret_cast<const __m128i *>(l.control + 16 * q));
    const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
    return _mm_or_si128(_mm_shuffle_epi8(a, c), _mm_shuffle_epi8(b, _mm_xor_si128(c, flip)));
}

__attribute__((target("ssse3"))) void GatherShuffled(const Landings &l, const uint8_t *src, uint8_t *dst) {
    for (int q = 0; q < kBlocks - 1; ++q)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 16 * q), Shuffled(l, src, q));
    // The last block holds 8 positions.
    _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + 16 * (kBlocks - 1)), Shuffled(l, src, kBlocks - 1));
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

constexpr int kEarlyRows = 20;

// What the work block holds.
struct Scratch {
    explicit Scratch(CorrectionForm form) : landings(form) {}
    Landings landings;
    Bow bow;
    uint8_t top[2][kW];  // working rows 0 and 1
    uint8_t zero[kW];    // the row buffer before the first row
    // The first output rows, held back: a caller may correct a frame into
    // its own raw buffer, and these would land on raw rows still to be
    // read. Output row d >= 20 comes from raw row k with
    // 280 (d + 1) <= 400 (k - 4), below every row read after it (model 5
    // reads up to 6 rows higher, one row ahead).
    uint8_t early[kEarlyRows][kW];
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
    Scratch *scratch = new (at) Scratch(form);
    Landings &landings = scratch->landings;
    int bowHeight = 0;
    auto bend = [&](int k) {
        if (BowHeight(k) != bowHeight) scratch->bow.Build(bowHeight = BowHeight(k));
        scratch->bow.Bend(raw, k, scratch->bent[k & 1]);
    };
    if (model5) bend(0);
    // Every position is reached in the top row, so the row buffer's start
    // value never shows; zero keeps it defined all the same.
    memset(scratch->zero, 0, kW);
    const uint8_t *above = scratch->zero;
    auto row = [&](int d) { return d < kEarlyRows ? scratch->early[d] : corrected + kW * d; };
    int prev = 0;  // the output row written last
    for (int k = 0; k < kRawRows; ++k) {
        if (k > 0) landings.Advance(k);
        const uint8_t *src = raw + kRawWidth * k;
        if (model5) {
            if (k + 1 < kRawRows) bend(k + 1);
            src = scratch->bent[k & 1];
        }
        const int d = k < 2 ? 0 : OutputRow(k - 2, form);
        uint8_t *dst = k < 2 ? scratch->top[k] : row(d);
        if (shuffle)
            GatherShuffled(landings, src, dst);
        else
            GatherPortable(landings, src, dst);
        // Positions no column reaches keep the row buffer's value, which
        // is the row above's.
        for (int p = 0; p < landings.First(); ++p) dst[p] = above[p];
        for (int p = landings.Last() + 1; p < kW; ++p) dst[p] = above[p];
        above = dst;
        // A row the spreading skips is the rounded-down mean of its
        // neighbours, made while both are still in the cache.
        if (d - prev > 1) Average(dst, row(prev), row(d - 1));
        prev = d;
    }
    // Every raw byte has been read.
    memcpy(corrected, scratch->early, sizeof scratch->early);
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
