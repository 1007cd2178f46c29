// acquisition_check INDEX DIR STEP: one image acquisition step through the
// shipped DLL on reader INDEX, its result on one line, its images in DIR.
//   capture          NFP_Capture (register 38 = 0x1234) into a cleared
//                    buffer: DIR\raw.bin; NFP_CorrectImage of it:
//                    DIR\corrected.bin.
//   image            NFP_CaptureImage (0x1234): DIR\captured.bin.
//   part M START END NFP_CapturePart with CaptureArm on a reader of model
//                    M, then NFP_Capture: DIR\band.bin, and whether the
//                    band's rows are the frame's (H + 1 rows of 398 columns
//                    on model 3, H of 400 otherwise) with nothing written
//                    past them.
// Nothing else reaches the reader, so its log shows the steps' requests
// alone.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "KX7300V20.h"
#include "save_file.h"

namespace {

int Fail(const char *what) {
    printf("%s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 4) return Fail("usage: acquisition_check INDEX DIR capture | image | part MODEL START END");
    const char *dir = argv[2], *step = argv[3];
    HANDLE device = NFP_Open(atoi(argv[1]));
    if (device == INVALID_HANDLE_VALUE) return Fail("no reader");
    std::vector<unsigned char> raw(NFP_RAW_SIZE, 0), corrected(NFP_CORRECTED_SIZE, 0);
    int status = 0;
    if (!strcmp(step, "capture")) {
        const int captured = NFP_Capture(device, 0x1234, raw.data());
        const int correct = NFP_CorrectImage(raw.data(), corrected.data());
        printf("capture %d, correct %d\n", captured, correct);
        if (!Save(dir, "raw.bin", raw.data(), raw.size()) ||
            !Save(dir, "corrected.bin", corrected.data(), corrected.size()))
            status = Fail("cannot write the images");
    } else if (!strcmp(step, "image")) {
        printf("capture image %d\n", NFP_CaptureImage(device, 0x1234, corrected.data()));
        if (!Save(dir, "captured.bin", corrected.data(), corrected.size())) status = Fail("cannot write the image");
    } else if (!strcmp(step, "part") && argc == 7) {
        const int model = atoi(argv[4]), start = atoi(argv[5]), end = atoi(argv[6]), height = end - start;
        const bool block = model == 4 || model == 5;
        const int rows = block ? height : height + 1;
        std::vector<unsigned char> band(static_cast<size_t>(rows) * 400 + 400, 0xCC);
        const int part = NFP_CapturePart(device, 0x1234, 1, start, end, band.data());
        const int captured = NFP_Capture(device, 0x1234, raw.data());
        // The block band reads (H + 3) * 62 / 302 pieces; a pixel past them
        // comes from the cleared buffer: blank (255), never old heap bytes.
        const long filled = block ? (height + 3) * 62L / 302 * 4096 : 0x7FFFFFFFL;
        int asRead = 0, blank = 0;
        for (int n = 0; n < rows; ++n) {
            bool row = true;
            for (int c = 0; c < (block ? 400 : 398); ++c) {
                const bool read = 142 + 832L * n + 2 * c < filled;
                const unsigned char pixel = band[400 * n + c];
                row = row && pixel == (read ? raw[400 * (start + n) + c] : 255);
                blank += !read;
            }
            asRead += row;
        }
        bool guard = true;
        for (size_t i = static_cast<size_t>(rows) * 400; i < band.size(); ++i) guard = guard && band[i] == 0xCC;
        printf("part %d, capture %d, %d of %d rows as the frame's, %d pixels beyond the reads blank, guard %s\n",
               part, captured, asRead, rows, blank, guard ? "intact" : "written");
        if (!Save(dir, "band.bin", band.data(), static_cast<size_t>(rows) * 400)) status = Fail("cannot write the band");
    } else {
        status = Fail("unknown step");
    }
    NFP_Close(device);
    return status;
}
