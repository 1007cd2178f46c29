// kit_demo: the kit's main job as an application meets it. Loads the
// shipped DLL, lists the readers it finds with their identity, captures a
// corrected image from the first one and writes it as an 8-bit grey BMP.
//
//   kit_demo.exe [OUTPUT.bmp]
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "KX7300V20.h"

namespace {

// Text of a raw 32-byte area up to its first zero byte.
void PrintArea(const char *label, const unsigned char *area) {
    char text[33];
    memcpy(text, area, 32);
    text[32] = 0;
    printf("  %-10s \"%s\"\n", label, text);
}

bool WriteGreyBmp(const char *path, const unsigned char *pixels, int width, int height) {
    const int stride = (width + 3) & ~3;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    const DWORD paletteSize = 256 * 4;
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info + paletteSize;
    file.bfSize = file.bfOffBits + stride * height;
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;  // bottom-up, as most viewers expect
    info.biPlanes = 1;
    info.biBitCount = 8;
    info.biSizeImage = stride * height;
    info.biClrUsed = 256;
    FILE *f = fopen(path, "wb");
    if (!f) return false;
    fwrite(&file, sizeof file, 1, f);
    fwrite(&info, sizeof info, 1, f);
    for (int i = 0; i < 256; ++i) {
        unsigned char entry[4] = {(unsigned char)i, (unsigned char)i, (unsigned char)i, 0};
        fwrite(entry, 4, 1, f);
    }
    unsigned char pad[4] = {};
    for (int y = height - 1; y >= 0; --y) {
        fwrite(pixels + y * width, 1, width, f);
        fwrite(pad, 1, stride - width, f);
    }
    return fclose(f) == 0;
}

}  // namespace

int main(int argc, char **argv) {
    const char *output = argc > 1 ? argv[1] : "capture.bmp";
    unsigned short version = 0;
    NFP_GetVersion(&version);
    printf("KX7300V20 interface version %u.%u\n", version >> 8, version & 0xFF);

    int first = -1;
    for (int index = 0; index < 10; ++index) {
        HANDLE device = NFP_Open(index);
        if (device == INVALID_HANDLE_VALUE) continue;
        unsigned char serial[32] = {}, user[32] = {};
        printf("reader %d: model %d\n", index, NFP_GetDevType(device));
        if (NFP_GetSerial(device, serial) == NFP_OK) PrintArea("serial", serial);
        if (NFP_GetUserData(device, user) == NFP_OK) PrintArea("user data", user);
        NFP_Close(device);
        if (first < 0) first = index;
    }
    if (first < 0) {
        printf("no reader found\n");
        return 1;
    }

    HANDLE device = NFP_Open(first);
    static unsigned char corrected[NFP_CORRECTED_SIZE];
    LARGE_INTEGER frequency, t0, t1;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&t0);
    int result = NFP_CaptureImage(device, 0x80, corrected);
    QueryPerformanceCounter(&t1);
    NFP_Close(device);
    double ms = 1000.0 * (t1.QuadPart - t0.QuadPart) / frequency.QuadPart;
    if (result != NFP_OK) {
        printf("capture from reader %d failed: %d\n", first, result);
        return 1;
    }
    printf("captured a corrected %dx%d image from reader %d in %.1f ms\n",
           NFP_CORRECTED_WIDTH, NFP_CORRECTED_HEIGHT, first, ms);
    if (!WriteGreyBmp(output, corrected, NFP_CORRECTED_WIDTH, NFP_CORRECTED_HEIGHT)) {
        printf("cannot write %s\n", output);
        return 1;
    }
    printf("wrote %s\n", output);
    return 0;
}
