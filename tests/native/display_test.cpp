// Drawing grey images: the bitmap description handed to the system, the
// picture that comes out on a software surface, widths that are not a
// multiple of 4, and contexts that cannot be drawn on.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <random>
#include <vector>

#include "KX7300V20.h"
#include "seam/host_system.h"

namespace {

using kx::host::Surface;

std::vector<uint8_t> Random(int width, int height, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> image(static_cast<size_t>(width) * height);
    for (uint8_t &p : image) p = static_cast<uint8_t>(random());
    return image;
}

uint32_t Grey(uint8_t v) { return (v << 16) | (v << 8) | v; }

class DrawImage : public ::testing::Test {
  protected:
    void SetUp() override { kx::host::Reset(); }
    void TearDown() override { kx::host::Reset(); }
    // A surface of the given size, painted a colour no grey can have.
    HDC Context(int width, int height) {
        surface_.width = width;
        surface_.height = height;
        surface_.pixels.assign(static_cast<size_t>(width) * height, kUnpainted);
        return static_cast<HDC>(kx::host::SurfaceContext(&surface_));
    }
    static constexpr uint32_t kUnpainted = 0x00FF00FF;
    Surface surface_;
};

template <typename T>
T Field(const std::vector<uint8_t> &info, size_t offset) {
    T value;
    memcpy(&value, info.data() + offset, sizeof value);
    return value;
}

TEST_F(DrawImage, HandsTheSystemAGreyTopDownBitmap) {
    std::vector<uint8_t> image = Random(NFP_RAW_WIDTH, NFP_RAW_HEIGHT, 1);
    HDC dc = Context(300, 200);
    EXPECT_EQ(NFP_DrawImage(dc, 7, 9, 200, 151, image.data(), NFP_RAW_WIDTH, NFP_RAW_HEIGHT), NFP_OK);
    EXPECT_EQ(surface_.draws, 1);
    EXPECT_EQ(surface_.stretchMode, 3);  // COLORONCOLOR, left set afterwards
    const std::vector<uint8_t> &info = surface_.info;
    ASSERT_EQ(info.size(), 40u + 1024u);
    EXPECT_EQ(Field<uint32_t>(info, 0), 40u);                 // biSize
    EXPECT_EQ(Field<int32_t>(info, 4), 400);                  // biWidth
    EXPECT_EQ(Field<int32_t>(info, 8), -302);                 // biHeight: top row first
    EXPECT_EQ(Field<uint16_t>(info, 12), 1);                  // biPlanes
    EXPECT_EQ(Field<uint16_t>(info, 14), 8);                  // biBitCount
    EXPECT_EQ(Field<uint32_t>(info, 16), 0u);                 // BI_RGB
    EXPECT_EQ(Field<uint32_t>(info, 20), 400u * 302u);        // biSizeImage
    EXPECT_EQ(Field<int32_t>(info, 24), 0);
    EXPECT_EQ(Field<int32_t>(info, 28), 0);
    EXPECT_EQ(Field<uint32_t>(info, 32), 256u);               // biClrUsed
    EXPECT_EQ(Field<uint32_t>(info, 36), 0u);                 // biClrImportant
    for (int i = 0; i < 256; ++i) {
        const uint8_t entry[4] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
        ASSERT_EQ(memcmp(info.data() + 40 + 4 * i, entry, 4), 0) << "colour " << i;
    }
    EXPECT_EQ(std::vector<int>(surface_.dest, surface_.dest + 4), (std::vector<int>{7, 9, 200, 151}));
    EXPECT_EQ(std::vector<int>(surface_.source, surface_.source + 4), (std::vector<int>{0, 0, 400, 302}));
    // Straight from the caller's buffer: no copy.
    EXPECT_EQ(surface_.bits, image.data());
}

// Each case draws into a rectangle; every destination pixel must be the
// grey of the source pixel nearest below-left of its position.
TEST_F(DrawImage, ScalesIntoTheDestinationRectangle) {
    struct Case {
        const char *name;
        int srcWidth, srcHeight;
        int x, y, width, height;
    } cases[] = {
        {"raw halved", 400, 302, 0, 0, 200, 151},
        {"raw as it is", 400, 302, 0, 0, 400, 302},
        {"corrected, wider and flatter", 280, 320, 10, 5, 400, 100},
        {"corrected, doubled", 280, 320, 0, 0, 560, 640},
        {"band of a partial capture", 400, 40, 3, 3, 100, 120},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> image = Random(c.srcWidth, c.srcHeight, c.srcWidth * 31 + c.height);
        HDC dc = Context(c.x + c.width + 4, c.y + c.height + 4);
        ASSERT_EQ(NFP_DrawImage(dc, c.x, c.y, c.width, c.height, image.data(), c.srcWidth, c.srcHeight), NFP_OK);
        for (int y = 0; y < surface_.height; ++y) {
            for (int x = 0; x < surface_.width; ++x) {
                bool inside = x >= c.x && x < c.x + c.width && y >= c.y && y < c.y + c.height;
                uint32_t want = kUnpainted;
                if (inside) {
                    int sx = (x - c.x) * c.srcWidth / c.width;
                    int sy = (y - c.y) * c.srcHeight / c.height;
                    want = Grey(image[sy * c.srcWidth + sx]);
                }
                ASSERT_EQ(surface_.At(x, y), want) << x << "," << y;
            }
        }
    }
}

TEST_F(DrawImage, BlackIsZeroWhiteIs255AndTheTopRowIsOnTop) {
    std::vector<uint8_t> image(NFP_CORRECTED_SIZE, 128);
    memset(image.data(), 0, NFP_CORRECTED_WIDTH);                                        // top row
    memset(image.data() + NFP_CORRECTED_SIZE - NFP_CORRECTED_WIDTH, 255, NFP_CORRECTED_WIDTH);  // bottom row
    HDC dc = Context(NFP_CORRECTED_WIDTH, NFP_CORRECTED_HEIGHT);
    NFP_DrawImage(dc, 0, 0, NFP_CORRECTED_WIDTH, NFP_CORRECTED_HEIGHT, image.data(), NFP_CORRECTED_WIDTH,
                  NFP_CORRECTED_HEIGHT);
    EXPECT_EQ(surface_.At(0, 0), 0x000000u);
    EXPECT_EQ(surface_.At(279, 0), 0x000000u);
    EXPECT_EQ(surface_.At(0, 319), 0xFFFFFFu);
    EXPECT_EQ(surface_.At(140, 160), 0x808080u);
}

// A bitmap row starts on a 4-byte boundary; an image of another width is
// handed over padded, so the system neither shears the rows nor reads
// past the caller's buffer (which is exactly as large as the image).
TEST_F(DrawImage, WidthsThatAreNoMultipleOfFour) {
    struct Case {
        int width, height;
    } cases[] = {{1, 1}, {3, 7}, {5, 2}, {281, 320}, {399, 302}, {402, 3}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        std::vector<uint8_t> image = Random(c.width, c.height, c.width + c.height);
        HDC dc = Context(c.width, c.height);
        ASSERT_EQ(NFP_DrawImage(dc, 0, 0, c.width, c.height, image.data(), c.width, c.height), NFP_OK);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                ASSERT_EQ(surface_.At(x, y), Grey(image[y * c.width + x])) << x << "," << y;
        EXPECT_EQ(kx::host::LiveBlocks(), 0);
    }
}

TEST_F(DrawImage, HeapOnlyForWidthsThatNeedPadding) {
    kx::host::FailAllocation(1, true);
    std::vector<uint8_t> aligned = Random(280, 320, 5);
    HDC dc = Context(280, 320);
    EXPECT_EQ(NFP_DrawImage(dc, 0, 0, 280, 320, aligned.data(), 280, 320), NFP_OK);
    EXPECT_EQ(surface_.draws, 1);
    EXPECT_EQ(surface_.At(100, 100), Grey(aligned[100 * 280 + 100]));

    // No block for the padded copy: nothing is drawn, and it still answers 1.
    std::vector<uint8_t> odd = Random(281, 10, 6);
    EXPECT_EQ(NFP_DrawImage(dc, 0, 0, 281, 10, odd.data(), 281, 10), NFP_OK);
    EXPECT_EQ(surface_.draws, 1);
    EXPECT_EQ(kx::host::LiveBlocks(), 0);
}

TEST_F(DrawImage, AnswersOneWhateverTheContext) {
    std::vector<uint8_t> image = Random(400, 302, 2);
    EXPECT_EQ(NFP_DrawImage(nullptr, 0, 0, 200, 151, image.data(), 400, 302), NFP_OK);
    EXPECT_EQ(NFP_DrawImage(reinterpret_cast<HDC>(0x7777), 0, 0, 200, 151, image.data(), 400, 302), NFP_OK);
    // An empty or negative source has no pixels to read: the mode is set,
    // nothing is drawn.
    HDC dc = Context(10, 10);
    for (int size : {0, -4}) {
        surface_.stretchMode = 0;
        EXPECT_EQ(NFP_DrawImage(dc, 0, 0, 10, 10, image.data(), size, 302), NFP_OK);
        EXPECT_EQ(NFP_DrawImage(dc, 0, 0, 10, 10, image.data(), 400, size), NFP_OK);
        EXPECT_EQ(surface_.stretchMode, 3);
    }
    EXPECT_EQ(surface_.draws, 0);
    EXPECT_EQ(surface_.At(5, 5), kUnpainted);
}

}  // namespace
