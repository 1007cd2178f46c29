// capture.h - the pieces the capture paths share: CurrentModel, the
// capture preambles, and the block capture of models 4 and 5.
//
// Holds: CurrentModel/SetCurrentModel, the four preamble senders,
// CaptureBlockFrame, CaptureBlockBand, MapBlockRows and the block sizes.
// Needs the system seam; the line stream decoder is in stream_decoder.h.
#ifndef KX_ACQUISITION_CAPTURE_H
#define KX_ACQUISITION_CAPTURE_H

#include <stddef.h>
#include <stdint.h>

#include "../seam/system.h"

namespace kx {

// Model code of the most recent capture call in the process, 0 before
// any. One value for the whole library: the correction that follows a
// capture reads whichever model was written last, from any thread.
int CurrentModel();
void SetCurrentModel(int model);

// The block layout of models 4 and 5: 62 pieces of 4096 bytes; row r at
// byte 142 + 832 r, pixel (r, c) at 2 c into the row, every second byte
// unused.
constexpr uint32_t kBlockPiece = 4096;
constexpr uint32_t kBlockPieces = 62;
constexpr uint32_t kBlockFrameSize = kBlockPiece * kBlockPieces;  // 253952
constexpr uint32_t kBlockFirstRow = 142;
constexpr uint32_t kBlockRowPitch = 832;

// The register-50 value of the library's own frame captures.
constexpr int kDefaultRegister50 = 40;

// image row n, columns 0..399 = 255 - block[142 + 832 n + 2 c], n < rows.
// The one place where block data becomes pixels.
void MapBlockRows(const uint8_t *block, int rows, uint8_t *image);

// Capture preambles: each request in its order; the first that fails ends
// the preamble with its code (no CaptureClose). Register values go out as
// their low byte.

// Model-3 frame: CaptureOpen, CaptureArm, 37=0, 38, 39=0, 1=5, 50, 2=2,
// TransferStart. NFP_Capture sends 50 = 40; protected capture the
// caller's value.
int SendStreamFramePreamble(Handle device, int register38, int register50);
// Models 4/5 frame: as above with 33=4 after CaptureArm.
int SendBlockFramePreamble(Handle device, int register38, int register50);
// Model-3 band: CaptureOpen, [CaptureArm], 16, 17, 37=0, 38, 39=0, 1=5,
// 2=2, TransferStart; no register 50.
int SendStreamBandPreamble(Handle device, int register38, bool arm, int startLine);
// Models 4/5 band: CaptureOpen, 33=4, [CaptureArm], 16, 17 (start + 6),
// 37=0, 38, 39=0, 1=5, 50=40, 2=2, TransferStart.
int SendBlockBandPreamble(Handle device, int register38, bool arm, int startLine);

// Registers 16 and 17 for a band's start line (quotient and remainder
// truncated toward zero, low bytes). The block path adds 6 to the low
// part only; its high part stays start / 256 even where that carries.
uint8_t BandRegister16(int startLine);
uint8_t BandRegister17(int startLine, bool blockPath);

// What both block paths do after their preamble: a zeroed working buffer
// of bufferSize bytes (none: "Memory allocation error !", -1, no
// CaptureClose), pieces reads of 4096 bytes into it (a failure:
// CaptureClose, "ImageData can not read !", -202), CaptureClose, then
// rows rows mapped into image. 0 on success. Zeroed because a band's
// last rows can lie beyond what its reads fill, and a short read fills
// less than its piece: no stale heap bytes reach the image.
int CaptureBlocks(Handle device, size_t bufferSize, uint32_t pieces, int rows,
                  uint8_t *image);

// A whole frame from a model-4/5 reader into a Raw image. 0 on success,
// else -201, -1 (no working memory), -202 (a read failed) or the code of
// the preamble request that failed.
int CaptureBlockFrame(Handle device, int register38, uint8_t *raw, int register50);

// A band of endLine - startLine rows from a model-4/5 reader, all 400
// columns. 1 on success, else as CaptureBlockFrame.
int CaptureBlockBand(Handle device, int register38, int arm, int startLine,
                     int endLine, uint8_t *output);

// The block band buffer: trunc((H + 3) * 253952 / 302) bytes read in
// trunc((H + 3) * 62 / 302) pieces. Formed in 64 bits: the 32-bit product
// wraps for heights above 8453 and would size the buffer below the reads.
int64_t BlockBandBufferSize(int height);
int64_t BlockBandPieces(int height);

// Band height endLine - startLine, as a 32-bit signed subtraction that
// wraps the way the reader's callers have always seen it.
int BandHeight(int startLine, int endLine);

}  // namespace kx

#endif
