// Frames captured under Wine through the shipped DLL and corrected there,
// corrected again here: the two builds of the correction must give the
// same bytes. tests/wine/acquisition.sh fills the directory KX_WINE_FRAMES
// names and runs this test; without it there is nothing to compare.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <set>
#include <string>
#include <vector>

#include "KX7300V20.h"
#include "acquisition/capture.h"
#include "model/image_file.h"

namespace {

std::vector<uint8_t> Read(const std::string &path, size_t size) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(vreader::ReadWholeFile(path, &bytes, &error)) << error;
    EXPECT_EQ(bytes.size(), size) << path;
    bytes.resize(size);
    return bytes;
}

TEST(WineFrames, CorrectedAsNatively) {
    const char *dir = getenv("KX_WINE_FRAMES");
    if (!dir) GTEST_SKIP() << "KX_WINE_FRAMES is not set; tests/wine/acquisition.sh sets it";
    for (int model : {3, 4, 5}) {
        const std::string at = std::string(dir) + "/model" + std::to_string(model) + "/";
        const std::vector<uint8_t> raw = Read(at + "raw.bin", NFP_RAW_SIZE);
        const std::vector<uint8_t> wine = Read(at + "corrected.bin", NFP_CORRECTED_SIZE);
        const std::vector<uint8_t> captured = Read(at + "captured.bin", NFP_CORRECTED_SIZE);
        kx::SetCurrentModel(model);
        std::vector<uint8_t> native(NFP_CORRECTED_SIZE);
        ASSERT_EQ(NFP_CorrectImage(raw.data(), native.data()), NFP_OK);
        EXPECT_EQ(wine, native) << "model " << model;
        EXPECT_EQ(captured, native) << "model " << model << ": NFP_CaptureImage";
        // A picture, not a blank frame, so that the comparison means something.
        EXPECT_GT(std::set<uint8_t>(native.begin(), native.end()).size(), 32u) << "model " << model;
    }
}

}  // namespace
