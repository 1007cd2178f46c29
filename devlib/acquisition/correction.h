// correction.h - geometric correction of a Raw image (400 x 302) into the
// Corrected image (280 x 320).
//
// Holds: CorrectionForm, Correct (the two stages over caller-given
// memory) and the stage constants. NFP_CorrectImage and NFP_CaptureImage
// are the exported faces. Needs nothing first.
//
// Horizontal stage: raw row k is stretched about column 200 by
//   s = (301 - k) * slope * slopeScale + base
// and scaled by 0.7: column i lands at trunc(((i - 200) s + 200) 0.7 + 1);
// the last column to land on a position wins, and a position no column
// reaches keeps the row buffer's value from the row before. Model 5 also
// takes each pixel from up to 4, 5 or 6 rows higher along a parabola.
// Vertical stage: working row j + 2 goes to output row trunc(j * 1.07);
// each skipped row is the rounded-down mean of its neighbours.
//
// The single-precision constants take part with their exact float values;
// all arithmetic is in double, in the order written, and every conversion
// to an integer truncates toward zero. The results are bit-exact.
#ifndef KX_ACQUISITION_CORRECTION_H
#define KX_ACQUISITION_CORRECTION_H

#include <stdint.h>

namespace kx {

enum class CorrectionForm : uint8_t { kStandard, kModel5 };

// Model 5 gets its own form; every other model (and 0) the standard one.
inline CorrectionForm CorrectionFor(int model) {
    return model == 5 ? CorrectionForm::kModel5 : CorrectionForm::kStandard;
}

constexpr int kCorrectedWidth = 280;
constexpr int kCorrectedHeight = 320;
constexpr int kWorkingSize = 302 * kCorrectedWidth;  // 84560

constexpr float kSlopeStandard = 0.052980132f;
constexpr float kSlopeModel5 = 0.069536425f;
constexpr float kSlopeScale = 0.005050505f;
constexpr double kBaseStandard = 1.0;
constexpr double kBaseModel5 = 1.023;
constexpr float kColumnScale = 0.7f;
constexpr float kColumnCentre = 200.0f;
constexpr float kColumnOffset = 1.0f;
constexpr double kRowSpread = 1.07;

// How the pixels move: the fastest way this processor has, or byte by byte
// (the results are the same; tests compare the two).
enum class CorrectionPath : uint8_t { kFastest, kPortable };

// raw: 120800 bytes; work: kWorkingSize bytes of scratch; corrected:
// 89600 bytes, every one written.
void Correct(const uint8_t *raw, uint8_t *work, uint8_t *corrected, CorrectionForm form,
             CorrectionPath path = CorrectionPath::kFastest);

}  // namespace kx

#endif
