// protected_check INDEX DIR: protected capture through the shipped DLL.
// Writes DIR/cipher.bin (key K, chaining value V), DIR/cipher-null.bin
// (key K, no chaining value) and DIR/expected.bin (NFP_Capture of the same
// reader, then NFP_CorrectImage), and prints one line per check.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "KX7300V20.h"
#include "save_file.h"

namespace {

const unsigned char kKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
const unsigned char kIv[8] = {0x12, 0x34, 0x56, 0x78, 0x90, 0xAB, 0xCD, 0xEF};
const unsigned char kSemiWeak[8] = {0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE};

// Output area with guard bytes behind the 89600 the call may write.
struct Area {
    unsigned char bytes[NFP_CORRECTED_SIZE + 64];
    void Fill() { memset(bytes, 0xCC, sizeof bytes); }
    bool Untouched() const {
        for (unsigned char b : bytes)
            if (b != 0xCC) return false;
        return true;
    }
    bool GuardIntact() const {
        for (size_t i = NFP_CORRECTED_SIZE; i < sizeof bytes; ++i)
            if (bytes[i] != 0xCC) return false;
        return true;
    }
};

Area area;
unsigned char raw[NFP_RAW_SIZE];
unsigned char corrected[NFP_CORRECTED_SIZE];

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: protected_check INDEX DIR [weak|unreadable]\n");
        return 2;
    }
    HANDLE device = NFP_Open(atoi(argv[1]));
    if (device == INVALID_HANDLE_VALUE) {
        printf("open failed\n");
        return 1;
    }
    const char *dir = argv[2];
    const char *mode = argc > 3 ? argv[3] : "";
    int failures = 0;
    if (strcmp(mode, "weak") == 0) {
        area.Fill();
        int r = NFP_CaptureImageEx(device, 0x80, kSemiWeak, kIv, area.bytes, 40);
        printf("weak key: %d %s\n", r, area.Untouched() ? "untouched" : "written");
    } else if (strcmp(mode, "unreadable") == 0) {
        area.Fill();
        int r = NFP_CaptureImageEx(device, 0x80, kKey, kIv, area.bytes, 40);
        printf("unreadable identity: %d %s\n", r, area.Untouched() ? "untouched" : "written");
    } else {
        area.Fill();
        int r = NFP_CaptureImageEx(device, 0x80, kKey, kIv, area.bytes, 0x77);
        printf("capture with chaining value: %d%s\n", r, area.GuardIntact() ? "" : " OVERRUN");
        failures += !Save(dir, "cipher.bin", area.bytes, NFP_CORRECTED_SIZE);
        area.Fill();
        r = NFP_CaptureImageEx(device, 0x80, kKey, nullptr, area.bytes, 0x77);
        printf("capture without chaining value: %d%s\n", r, area.GuardIntact() ? "" : " OVERRUN");
        failures += !Save(dir, "cipher-null.bin", area.bytes, NFP_CORRECTED_SIZE);
        // The same frame in the clear: the raw buffer cleared as the
        // protected path clears its own.
        memset(raw, 0, sizeof raw);
        r = NFP_Capture(device, 0x80, raw);
        int c = NFP_CorrectImage(raw, corrected);
        printf("plain capture and correction: %d %d\n", r, c);
        failures += !Save(dir, "expected.bin", corrected, sizeof corrected);
    }
    NFP_Close(device);
    return failures ? 1 : 0;
}
