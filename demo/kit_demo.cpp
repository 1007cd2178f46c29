// kit_demo: the kit's main job as an application meets it. Loads the
// shipped DLL, lists the readers it finds with their identity, captures a
// corrected image from the first one and writes it as 8-bit grey BMP and
// PNG files.
//
//   kit_demo.exe [NAME]      writes NAME.bmp and NAME.png (default capture)
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <vector>

#include "KX7300V20.h"
#include "model/image_encode.h"

namespace {

// Text of a raw 32-byte area up to its first zero byte.
void PrintArea(const char *label, const unsigned char *area) {
    char text[33];
    memcpy(text, area, 32);
    text[32] = 0;
    printf("  %-10s \"%s\"\n", label, text);
}

bool WriteFile(const char *path, const std::vector<uint8_t> &bytes) {
    FILE *f = fopen(path, "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char **argv) {
    const char *name = argc > 1 ? argv[1] : "capture";
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
    char bmp[MAX_PATH], png[MAX_PATH];
    snprintf(bmp, sizeof bmp, "%s.bmp", name);
    snprintf(png, sizeof png, "%s.png", name);
    const int w = NFP_CORRECTED_WIDTH, h = NFP_CORRECTED_HEIGHT;
    if (!WriteFile(bmp, vreader::EncodeBmp(corrected, w, h)) ||
        !WriteFile(png, vreader::EncodePng(corrected, w, h))) {
        printf("cannot write %s and %s\n", bmp, png);
        return 1;
    }
    printf("wrote %s and %s\n", bmp, png);
    return 0;
}
