// Pictures for virtual readers and image files out: PGM and BMP reading
// (and what is refused), BMP and PNG writing checked byte by byte, fitting
// onto the sensor, the synthetic finger, and readers made from a
// description.
#include <gtest/gtest.h>

#include <math.h>

#include <algorithm>
#include <string>
#include <vector>

#include "acquisition_support.h"
#include "control/requests.h"
#include "model/image_file.h"

namespace {

using vreader::GreyImage;

std::vector<uint8_t> Bytes(const std::string &s) { return std::vector<uint8_t>(s.begin(), s.end()); }

void Le(std::vector<uint8_t> *v, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) v->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A BMP written here by hand: headers, optional palette, rows as given
// (already in file order and padded).
std::vector<uint8_t> HandBmp(int32_t width, int32_t height, int bits, uint32_t compression,
                             const std::vector<uint8_t> &palette, const std::vector<uint8_t> &rows) {
    std::vector<uint8_t> f = {'B', 'M'};
    const uint32_t offset = 14 + 40 + static_cast<uint32_t>(palette.size());
    Le(&f, offset + static_cast<uint32_t>(rows.size()), 4);
    Le(&f, 0, 4);
    Le(&f, offset, 4);
    Le(&f, 40, 4);
    Le(&f, static_cast<uint32_t>(width), 4);
    Le(&f, static_cast<uint32_t>(height), 4);
    Le(&f, 1, 2);
    Le(&f, bits, 2);
    Le(&f, compression, 4);
    Le(&f, static_cast<uint32_t>(rows.size()), 4);
    Le(&f, 0, 4);
    Le(&f, 0, 4);
    Le(&f, static_cast<uint32_t>(palette.size() / 4), 4);
    Le(&f, 0, 4);
    f.insert(f.end(), palette.begin(), palette.end());
    f.insert(f.end(), rows.begin(), rows.end());
    return f;
}

GreyImage Decoded(const std::vector<uint8_t> &file) {
    GreyImage image;
    std::string error;
    EXPECT_TRUE(vreader::DecodeGreyImage(file.data(), file.size(), &image, &error)) << error;
    return image;
}

TEST(ImageFile, Pgm) {
    struct Case {
        const char *name;
        std::vector<uint8_t> file;
        int width, height;
        std::vector<uint8_t> pixels;
    } cases[] = {
        {"binary with a comment", Bytes("P5\n# made here\n3 2\n255\n\x01\x02\x03\xfd\xfe\xff"), 3, 2,
         {1, 2, 3, 253, 254, 255}},
        {"plain", Bytes("P2 2 2 15\n0 15\n  7 8"), 2, 2, {0, 255, 119, 136}},
        {"16-bit samples, most significant byte first",
         Bytes(std::string("P5 2 1 65535\n\xff\xff\x80\x00", 17)), 2, 1, {255, 128}},
    };
    for (const Case &c : cases) {
        GreyImage image = Decoded(c.file);
        EXPECT_EQ(image.width, c.width) << c.name;
        EXPECT_EQ(image.height, c.height) << c.name;
        EXPECT_EQ(image.pixels, c.pixels) << c.name;
    }
}

TEST(ImageFile, RefusedFiles) {
    const std::vector<uint8_t> row3 = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // 3 x 24-bit + pad
    const struct {
        const char *name;
        std::vector<uint8_t> file;
    } cases[] = {
        {"empty", {}},
        {"unknown kind", Bytes("P6 1 1 255\n\x01\x02\x03")},
        {"PGM without size", Bytes("P5\n")},
        {"PGM of zero width", Bytes("P5 0 4 255\n")},
        {"PGM maximum 0", Bytes("P5 1 1 0\n\x01")},
        {"PGM maximum above 65535", Bytes("P2 1 1 70000\n1")},
        {"PGM data short", Bytes("P5 4 4 255\nabc")},
        {"PGM too wide", Bytes("P5 99999 1 255\n")},
        {"plain PGM short", Bytes("P2 2 2 255\n1 2 3")},
        {"BMP headers cut", Bytes("BM\x10\x00")},
        {"BMP compressed", HandBmp(3, 1, 24, 1, {}, row3)},
        {"BMP of 4 bits", HandBmp(3, 1, 4, 0, {}, row3)},
        {"BMP pixels cut", HandBmp(3, 2, 24, 0, {}, row3)},
        {"BMP of zero width", HandBmp(0, 1, 24, 0, {}, row3)},
        {"BMP palette cut", HandBmp(3, 1, 8, 0, {}, {})},
        {"BMP height INT32_MIN", HandBmp(3, INT32_MIN, 24, 0, {}, row3)},
    };
    for (const auto &c : cases) {
        GreyImage image;
        std::string error;
        EXPECT_FALSE(vreader::DecodeGreyImage(c.file.data(), c.file.size(), &image, &error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }
}

TEST(ImageFile, Bmp) {
    // 24-bit, 3 x 2, bottom-up with 3 bytes of row padding; blue, green,
    // red order in the file.
    std::vector<uint8_t> rows = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0,         // bottom row
                                 10, 10, 10, 200, 200, 200, 255, 255, 255, 0, 0, 0};  // top row
    GreyImage rgb = Decoded(HandBmp(3, 2, 24, 0, {}, rows));
    EXPECT_EQ(rgb.pixels, (std::vector<uint8_t>{10, 200, 255, 77, 149, 29}));
    // The same rows top-down (negative height).
    GreyImage topDown = Decoded(HandBmp(3, -2, 24, 0, {}, rows));
    EXPECT_EQ(topDown.pixels, (std::vector<uint8_t>{77, 149, 29, 10, 200, 255}));
    // 8-bit through a coloured palette of two entries.
    std::vector<uint8_t> palette = {0, 0, 255, 0, 255, 255, 255, 0};
    GreyImage indexed = Decoded(HandBmp(2, 1, 8, 0, palette, {1, 0, 0, 0}));
    EXPECT_EQ(indexed.pixels, (std::vector<uint8_t>{255, 77}));
    // 32-bit.
    GreyImage wide = Decoded(HandBmp(1, 1, 32, 0, {}, {0, 255, 0, 0}));
    EXPECT_EQ(wide.pixels, (std::vector<uint8_t>{149}));
}

TEST(ImageFile, BmpWriting) {
    const uint8_t grey[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};  // 5 x 3
    std::vector<uint8_t> bmp = vreader::EncodeBmp(grey, 5, 3);
    ASSERT_EQ(bmp.size(), 14u + 40 + 1024 + 8 * 3);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(kx::GetWord(bmp.data() + 2) | (kx::GetWord(bmp.data() + 4) << 16), bmp.size());
    EXPECT_EQ(kx::GetWord(bmp.data() + 10), 14 + 40 + 1024);
    EXPECT_EQ(kx::GetWord(bmp.data() + 22), 3);  // positive height: bottom-up
    EXPECT_EQ(kx::GetWord(bmp.data() + 28), 8);
    for (int i = 0; i < 256; ++i) {
        const uint8_t *entry = bmp.data() + 54 + 4 * i;
        ASSERT_EQ(entry[0], i);
        ASSERT_EQ(entry[1], i);
        ASSERT_EQ(entry[2], i);
        ASSERT_EQ(entry[3], 0);
    }
    const uint8_t *pixels = bmp.data() + 14 + 40 + 1024;
    EXPECT_EQ(std::vector<uint8_t>(pixels, pixels + 8), (std::vector<uint8_t>{11, 12, 13, 14, 15, 0, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(pixels + 16, pixels + 21), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    GreyImage back = Decoded(bmp);
    EXPECT_EQ(back.pixels, std::vector<uint8_t>(grey, grey + 15));
}

uint32_t BitwiseCrc(const uint8_t *p, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

uint32_t Be32(const uint8_t *p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

TEST(ImageFile, PngWriting) {
    std::vector<uint8_t> picture = acq::TestPicture(3);
    std::vector<uint8_t> png = vreader::EncodePng(picture.data(), 400, 302);
    const uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ASSERT_TRUE(std::equal(signature, signature + 8, png.begin()));
    std::vector<std::string> types;
    std::vector<uint8_t> idat;
    size_t at = 8;
    while (at + 12 <= png.size()) {
        const uint32_t length = Be32(&png[at]);
        ASSERT_LE(at + 12 + length, png.size());
        const std::string type(png.begin() + at + 4, png.begin() + at + 8);
        EXPECT_EQ(Be32(&png[at + 8 + length]), BitwiseCrc(&png[at + 4], 4 + length)) << type;
        if (type == "IHDR") {
            ASSERT_EQ(length, 13u);
            EXPECT_EQ(Be32(&png[at + 8]), 400u);
            EXPECT_EQ(Be32(&png[at + 12]), 302u);
            EXPECT_EQ(png[at + 16], 8);  // bit depth
            EXPECT_EQ(png[at + 17], 0);  // grey
        }
        if (type == "IDAT") idat.insert(idat.end(), png.begin() + at + 8, png.begin() + at + 8 + length);
        types.push_back(type);
        at += 12 + length;
    }
    EXPECT_EQ(at, png.size());
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    // Inflate the stored blocks by hand.
    ASSERT_GE(idat.size(), 6u);
    EXPECT_EQ((idat[0] * 256 + idat[1]) % 31, 0);
    std::vector<uint8_t> data;
    size_t p = 2;
    bool last = false;
    while (!last) {
        ASSERT_LT(p + 5, idat.size());
        last = idat[p] & 1;
        ASSERT_EQ(idat[p] >> 1, 0);  // stored
        const uint16_t len = kx::GetWord(&idat[p + 1]), nlen = kx::GetWord(&idat[p + 3]);
        ASSERT_EQ(len, static_cast<uint16_t>(~nlen));
        data.insert(data.end(), idat.begin() + p + 5, idat.begin() + p + 5 + len);
        p += 5 + len;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    EXPECT_EQ(Be32(&idat[p]), (b << 16) | a);
    ASSERT_EQ(data.size(), 302u * 401);
    for (int y = 0; y < 302; ++y) {
        ASSERT_EQ(data[401 * y], 0);
        ASSERT_TRUE(std::equal(picture.begin() + 400 * y, picture.begin() + 400 * (y + 1), data.begin() + 401 * y + 1)) << y;
    }
}

GreyImage Pattern(int width, int height, uint8_t (*f)(int x, int y)) {
    GreyImage g;
    g.width = width;
    g.height = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) g.pixels.push_back(f(x, y));
    return g;
}

TEST(ImageFile, FitToSensor) {
    std::vector<uint8_t> out(vreader::kImageSize);
    // The sensor's own size is copied as it is.
    GreyImage same = Pattern(400, 302, [](int x, int y) { return static_cast<uint8_t>(x * 7 + y); });
    vreader::FitToSensor(same, out.data());
    EXPECT_EQ(out, same.pixels);
    // Twice the size: each 2 x 2 block becomes its mean.
    GreyImage twice = Pattern(800, 604, [](int x, int y) {
        return static_cast<uint8_t>(((x / 2) * 3 + (y / 2)) % 200 + ((x + y) % 2) * 20);
    });
    vreader::FitToSensor(twice, out.data());
    EXPECT_EQ(out[0], 10);
    EXPECT_EQ(out[400 * 5 + 7], (7 * 3 + 5) % 200 + 10);
    // Square: the aspect is kept, the middle 302 rows are cropped out.
    GreyImage square = Pattern(400, 400, [](int x, int y) { return static_cast<uint8_t>(x + 3 * y); });
    vreader::FitToSensor(square, out.data());
    for (int y = 0; y < 302; ++y)
        for (int x = 0; x < 400; ++x) ASSERT_EQ(out[400 * y + x], static_cast<uint8_t>(x + 3 * (y + 49)));
    // A small even picture grows evenly.
    GreyImage small = Pattern(40, 30, [](int, int) { return static_cast<uint8_t>(90); });
    vreader::FitToSensor(small, out.data());
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 90; }));
}

// Ridge period along the steepest of 16 directions through a point: the
// direction across the ridges crosses them most often.
double RidgePeriodAt(const uint8_t *image, int cx, int cy) {
    int most = 0;
    for (int d = 0; d < 16; ++d) {
        const double a = 3.14159265358979 * d / 16, ux = cos(a), uy = sin(a);
        int crossings = 0;
        bool dark = false;
        for (int t = -30; t <= 30; ++t) {
            const int x = cx + static_cast<int>(lround(t * ux)), y = cy + static_cast<int>(lround(t * uy));
            const bool now = image[400 * y + x] < 130;
            if (t > -30 && now != dark) ++crossings;
            dark = now;
        }
        most = std::max(most, crossings);
    }
    return most ? 2.0 * 60 / most : 1e9;
}

TEST(ImageFile, SyntheticFingerprint) {
    std::vector<uint8_t> a(vreader::kImageSize), b(vreader::kImageSize), again(vreader::kImageSize);
    vreader::SyntheticFingerprint(1, a.data());
    vreader::SyntheticFingerprint(2, b.data());
    vreader::SyntheticFingerprint(1, again.data());
    EXPECT_EQ(a, again);
    size_t differ = 0;
    for (size_t i = 0; i < a.size(); ++i) differ += a[i] != b[i];
    EXPECT_GT(differ, a.size() / 4);
    for (uint32_t seed : {1u, 2u, 3u, 4u}) {
        vreader::SyntheticFingerprint(seed, a.data());
        // Light outside the contact area (the corners), dark ridges and
        // light valleys inside it.
        double corner = 0;
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 20; ++x) corner += a[400 * y + x] + a[400 * (301 - y) + 399 - x];
        EXPECT_GT(corner / 800, 200) << seed;
        int dark = 0, light = 0;
        for (int y = 121; y < 181; ++y)
            for (int x = 170; x < 230; ++x) {
                dark += a[400 * y + x] < 110;
                light += a[400 * y + x] > 170;
            }
        EXPECT_GT(dark, 600) << seed;
        EXPECT_GT(light, 600) << seed;
        // Ridges about 9 pixels apart.
        for (const auto &at : {std::pair<int, int>{200, 151}, {160, 120}, {240, 180}}) {
            const double period = RidgePeriodAt(a.data(), at.first, at.second);
            EXPECT_GT(period, 6.5) << seed;
            EXPECT_LT(period, 12.5) << seed;
        }
    }
}

TEST(ImageFile, ReaderImages) {
    const std::string dir = ::testing::TempDir();
    std::vector<uint8_t> pgm = Bytes("P5 400 302 255\n");
    std::vector<uint8_t> picture = acq::TestPicture(4);
    pgm.insert(pgm.end(), picture.begin(), picture.end());
    std::string error;
    ASSERT_TRUE(vreader::WriteWholeFile(dir + "/finger.pgm", pgm, &error)) << error;
    ASSERT_TRUE(vreader::WriteWholeFile(dir + "/traffic.bin", {9, 8, 7}, &error)) << error;

    struct Case {
        std::string image;
        bool ok;
    } cases[] = {{"", true},           {"synthetic:7", true},  {"synthetic:", false},
                 {"synthetic:x", false}, {"synthetic:-1", false}, {dir + "/finger.pgm", true},
                 {dir + "/none.pgm", false}};
    for (const Case &c : cases) {
        vreader::Description d;
        vreader::DefaultDescription(&d);
        strcpy(d.image, c.image.c_str());
        std::vector<uint8_t> image(vreader::kImageSize, 1);
        error.clear();
        EXPECT_EQ(vreader::LoadReaderImage(d, image.data(), &error), c.ok) << c.image;
        if (!c.ok) {
            EXPECT_FALSE(error.empty()) << c.image;
            continue;
        }
        std::vector<uint8_t> expected(vreader::kImageSize, 255);
        if (c.image == "synthetic:7") vreader::SyntheticFingerprint(7, expected.data());
        if (c.image.find(".pgm") != std::string::npos) expected = picture;
        EXPECT_EQ(image, expected) << c.image;
    }

    // A reader from a description whose file names are relative to it.
    vreader::LoadedReader loaded;
    ASSERT_TRUE(vreader::MakeReader("model = 4\nimage = finger.pgm\nreplay = traffic.bin\n", dir, &loaded,
                                    &error))
        << error;
    EXPECT_EQ(loaded.description.identity[0], '4');
    EXPECT_TRUE(std::equal(picture.begin(), picture.end(), loaded.reader->Image()));
    EXPECT_EQ(loaded.replay, (std::vector<uint8_t>{9, 8, 7}));
    kx::host::Reset();
    kx::host::Attach(0, loaded.reader.get());
    HANDLE device = NFP_Open(0);
    ASSERT_EQ(kx::TransferStart(device), NFP_OK);
    uint8_t buffer[8] = {};
    uint32_t got = 0;
    ASSERT_TRUE(kx::System().read(device, buffer, sizeof buffer, &got));
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(buffer[0], 9);
    NFP_Close(device);
    kx::host::Reset();
    EXPECT_FALSE(vreader::MakeReader("image = missing.bmp\n", dir, &loaded, &error));
    EXPECT_NE(error.find("missing.bmp"), std::string::npos);
    EXPECT_FALSE(vreader::MakeReader("colour = red\n", dir, &loaded, &error));
}

}  // namespace
