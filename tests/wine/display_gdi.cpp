// display_gdi: NFP_DrawImage of the shipped DLL into a memory device
// context holding a 32-bit DIB section, checked pixel by pixel: halving
// keeps whole rows and columns, grey values map to themselves with the top
// row on top, another aspect ratio fills the rectangle, odd widths keep
// their rows, and an unusable context still answers 1.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <vector>

namespace {

typedef int(WINAPI *DrawImageFn)(HDC, int, int, int, int, const unsigned char *, int, int);
DrawImageFn DrawImage;
int failures = 0;

void Check(bool ok, const char *what) {
    printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++failures;
}

const uint32_t kUnpainted = 0x00FF00FF;

// A memory context drawing into a top-down 32-bit DIB section.
struct Canvas {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    uint32_t *pixels = nullptr;
    int width, height;
    Canvas(int w, int h) : width(w), height(h) {
        BITMAPINFO info;
        memset(&info, 0, sizeof info);
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void *bits = nullptr;
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        pixels = static_cast<uint32_t *>(bits);
        if (dc && bitmap) old = SelectObject(dc, bitmap);
        Clear();
    }
    ~Canvas() {
        if (old) SelectObject(dc, old);
        if (bitmap) DeleteObject(bitmap);
        if (dc) DeleteDC(dc);
    }
    bool Ready() const { return dc && bitmap && pixels; }
    void Clear() {
        if (!pixels) return;
        for (int i = 0; i < width * height; ++i) pixels[i] = kUnpainted;
    }
    uint32_t At(int x, int y) const { return pixels[y * width + x] & 0x00FFFFFF; }
    void Draw(int x, int y, int w, int h, const std::vector<uint8_t> &image, int sw, int sh) {
        GdiFlush();
        DrawImage(dc, x, y, w, h, image.data(), sw, sh);
        GdiFlush();
    }
};

uint32_t Grey(uint8_t v) { return (v << 16) | (v << 8) | v; }

std::vector<uint8_t> Random(int w, int h, uint32_t seed) {
    std::vector<uint8_t> image(static_cast<size_t>(w) * h);
    for (uint8_t &p : image) {
        seed = seed * 1103515245u + 12345u;
        p = static_cast<uint8_t>(seed >> 16);
    }
    return image;
}

// Which source row (or column) each destination row (column) shows: an
// image whose pixels name their row, drawn twice for the low and high byte.
// -1 where a pixel is not a pure grey.
std::vector<int> SourceIndex(Canvas &canvas, int x0, int y0, int w, int h, int sw, int sh, bool rows) {
    int n = rows ? h : w;
    std::vector<int> index(n, 0);
    for (int part = 0; part < 2; ++part) {
        std::vector<uint8_t> image(static_cast<size_t>(sw) * sh);
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x) {
                int i = rows ? y : x;
                image[y * sw + x] = static_cast<uint8_t>(part ? i >> 8 : i & 0xFF);
            }
        canvas.Clear();
        canvas.Draw(x0, y0, w, h, image, sw, sh);
        for (int k = 0; k < n; ++k) {
            // The index must be the same all along the row (column).
            uint32_t first = rows ? canvas.At(x0, y0 + k) : canvas.At(x0 + k, y0);
            for (int j = 0; j < (rows ? w : h); ++j) {
                uint32_t p = rows ? canvas.At(x0 + j, y0 + k) : canvas.At(x0 + k, y0 + j);
                if (p != first) first = 0xFFFFFFFF;
            }
            if (first == 0xFFFFFFFF || first != Grey(first & 0xFF) || index[k] < 0)
                index[k] = -1;
            else
                index[k] |= static_cast<int>(first & 0xFF) << (part ? 8 : 0);
        }
    }
    return index;
}

// Every destination pixel is exactly the source pixel at (column map, row
// map): no blending anywhere; outside the rectangle nothing changed.
bool ShowsExactly(Canvas &canvas, int x0, int y0, int w, int h, const std::vector<uint8_t> &image, int sw,
                  const std::vector<int> &rowOf, const std::vector<int> &columnOf) {
    for (int y = 0; y < canvas.height; ++y)
        for (int x = 0; x < canvas.width; ++x) {
            bool inside = x >= x0 && x < x0 + w && y >= y0 && y < y0 + h;
            uint32_t want = inside ? Grey(image[rowOf[y - y0] * sw + columnOf[x - x0]]) : kUnpainted;
            if (canvas.At(x, y) != want) {
                printf("     at %d,%d: %06X, want %06X\n", x, y, canvas.At(x, y), want);
                return false;
            }
        }
    return true;
}

bool Valid(const std::vector<int> &map, int limit) {
    for (size_t i = 0; i < map.size(); ++i)
        if (map[i] < 0 || map[i] >= limit || (i && map[i] < map[i - 1])) return false;
    return true;
}

void Halving() {
    Canvas canvas(220, 170);
    if (!canvas.Ready()) return Check(false, "memory context with a DIB section");
    std::vector<int> rowOf = SourceIndex(canvas, 10, 10, 200, 151, 400, 302, true);
    std::vector<int> columnOf = SourceIndex(canvas, 10, 10, 200, 151, 400, 302, false);
    bool halved = Valid(rowOf, 302) && Valid(columnOf, 400);
    for (int y = 0; halved && y < 151; ++y) halved = rowOf[y] / 2 == y;
    for (int x = 0; halved && x < 200; ++x) halved = columnOf[x] / 2 == x;
    Check(halved, "400x302 into 200x151: row k and column k show source row and column 2k or 2k+1");
    if (!halved) return;
    std::vector<uint8_t> image = Random(400, 302, 11);
    canvas.Clear();
    canvas.Draw(10, 10, 200, 151, image, 400, 302);
    Check(ShowsExactly(canvas, 10, 10, 200, 151, image, 400, rowOf, columnOf),
          "halving keeps whole rows and columns: every pixel is a source pixel, none averaged");
    Check(GetStretchBltMode(canvas.dc) == COLORONCOLOR, "the stretch mode is left at COLORONCOLOR");
}

void GreysAndOrientation() {
    Canvas canvas(400, 302);
    if (!canvas.Ready()) return Check(false, "memory context with a DIB section");
    std::vector<uint8_t> image(400 * 302, 128);
    memset(image.data(), 0, 400);                    // top row black
    memset(image.data() + 400 * 301, 255, 400);      // bottom row white
    canvas.Draw(0, 0, 400, 302, image, 400, 302);
    Check(canvas.At(0, 0) == 0x000000 && canvas.At(399, 0) == 0x000000, "value 0 is black, in the top row");
    Check(canvas.At(0, 301) == 0xFFFFFF && canvas.At(399, 301) == 0xFFFFFF, "value 255 is white, in the bottom row");
    std::vector<uint8_t> ramp = Random(400, 302, 5);
    for (int x = 0; x < 256; ++x) ramp[150 * 400 + x] = static_cast<uint8_t>(x);
    canvas.Clear();
    canvas.Draw(0, 0, 400, 302, ramp, 400, 302);
    std::vector<int> same(302), sameColumns(400);
    for (int i = 0; i < 302; ++i) same[i] = i;
    for (int i = 0; i < 400; ++i) sameColumns[i] = i;
    Check(ShowsExactly(canvas, 0, 0, 400, 302, ramp, 400, same, sameColumns),
          "at its own size every pixel shows its own grey, rows top to bottom");
}

void OtherAspect() {
    Canvas canvas(420, 120);
    if (!canvas.Ready()) return Check(false, "memory context with a DIB section");
    const int x0 = 10, y0 = 10, w = 400, h = 100;  // 280x320 made wide and flat
    std::vector<int> rowOf = SourceIndex(canvas, x0, y0, w, h, 280, 320, true);
    std::vector<int> columnOf = SourceIndex(canvas, x0, y0, w, h, 280, 320, false);
    bool spread = Valid(rowOf, 320) && Valid(columnOf, 280) && rowOf.front() <= 3 && rowOf.back() >= 316 &&
                  columnOf.front() == 0 && columnOf.back() == 279;
    Check(spread, "280x320 into 400x100: rows and columns spread over the whole source");
    if (!spread) return;
    std::vector<uint8_t> image = Random(280, 320, 21);
    canvas.Clear();
    canvas.Draw(x0, y0, w, h, image, 280, 320);
    Check(ShowsExactly(canvas, x0, y0, w, h, image, 280, rowOf, columnOf),
          "the stretched image fills the rectangle exactly, nothing outside it");
}

void OddWidths() {
    const int sizes[][2] = {{281, 10}, {3, 3}, {401, 302}};
    for (const auto &size : sizes) {
        int w = size[0], h = size[1];
        Canvas canvas(w, h);
        if (!canvas.Ready()) return Check(false, "memory context with a DIB section");
        // Handed to the system unpadded, these rows would shear.
        std::vector<uint8_t> image = Random(w, h, w * 7 + h);
        canvas.Draw(0, 0, w, h, image, w, h);
        std::vector<int> rows(h), columns(w);
        for (int i = 0; i < h; ++i) rows[i] = i;
        for (int i = 0; i < w; ++i) columns[i] = i;
        char what[96];
        snprintf(what, sizeof what, "width %d (no multiple of 4) x %d keeps its rows", w, h);
        Check(ShowsExactly(canvas, 0, 0, w, h, image, w, rows, columns), what);
    }
}

void UnusableContexts() {
    std::vector<uint8_t> image = Random(400, 302, 3);
    Check(DrawImage(nullptr, 0, 0, 200, 151, image.data(), 400, 302) == 1, "a null context answers 1");
    Check(DrawImage(reinterpret_cast<HDC>(static_cast<uintptr_t>(0x5A5A0)), 0, 0, 200, 151, image.data(), 400, 302) == 1,
          "a made-up context answers 1");
    HDC gone = CreateCompatibleDC(nullptr);
    DeleteDC(gone);
    Check(DrawImage(gone, 0, 0, 200, 151, image.data(), 400, 302) == 1, "a deleted context answers 1");
}

}  // namespace

int main() {
    HMODULE dll = LoadLibraryA("KX7300V20.dll");
    DrawImage = dll ? reinterpret_cast<DrawImageFn>(reinterpret_cast<void *>(GetProcAddress(dll, "NFP_DrawImage")))
                    : nullptr;
    Check(DrawImage != nullptr, "NFP_DrawImage from KX7300V20.dll");
    if (!DrawImage) return 1;
    Halving();
    GreysAndOrientation();
    OtherAspect();
    OddWidths();
    UnusableContexts();
    return failures ? 1 : 0;
}
