// led_scard_client: one indicator or smart-card call of the shipped DLL on
// reader INDEX, its result printed for the test script to compare.
//
//   led_scard_client INDEX on | off
//   led_scard_client INDEX write ADDRESS AUXILIARY HEXDATA
//   led_scard_client INDEX fill ADDRESS AUXILIARY LENGTH     (LENGTH bytes i & 0xFF)
//   led_scard_client INDEX read ADDRESS AUXILIARY LENGTH     (prints RESULT COUNT HEX)
//
// Prints the result code (and for read the count and the bytes); exits 0
// when the call was made, 2 for bad arguments or no DLL.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

namespace {

typedef HANDLE(WINAPI *OpenFn)(int);
typedef int(WINAPI *CloseFn)(HANDLE);
typedef int(WINAPI *LedFn)(HANDLE);
typedef int(WINAPI *WriteFn)(HANDLE, unsigned short, unsigned short, unsigned short, const unsigned char *);
typedef int(WINAPI *ReadFn)(HANDLE, unsigned short, unsigned short, unsigned short, unsigned char *,
                            unsigned short *);

template <typename F>
F Get(HMODULE dll, const char *name) {
    return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(dll, name)));
}

unsigned short Word(const char *text) { return static_cast<unsigned short>(strtoul(text, nullptr, 0)); }

int Usage() {
    fprintf(stderr, "usage: led_scard_client INDEX on|off|write|fill|read ...\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) return Usage();
    HMODULE dll = LoadLibraryA("KX7300V20.dll");
    if (!dll) {
        fprintf(stderr, "led_scard_client: no KX7300V20.dll\n");
        return 2;
    }
    auto open = Get<OpenFn>(dll, "NFP_Open");
    auto close = Get<CloseFn>(dll, "NFP_Close");
    const char *command = argv[2];
    HANDLE device = open(atoi(argv[1]));
    int result;
    if (!strcmp(command, "on") || !strcmp(command, "off")) {
        result = Get<LedFn>(dll, !strcmp(command, "on") ? "NFP_OK_LED_On" : "NFP_OK_LED_Off")(device);
        printf("%d\n", result);
    } else if ((!strcmp(command, "write") || !strcmp(command, "fill")) && argc == 6) {
        std::vector<unsigned char> data;
        if (!strcmp(command, "write")) {
            for (const char *p = argv[5]; p[0] && p[1]; p += 2) {
                char pair[3] = {p[0], p[1], 0};
                data.push_back(static_cast<unsigned char>(strtoul(pair, nullptr, 16)));
            }
        } else {
            data.resize(Word(argv[5]));
            for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i);
        }
        result = Get<WriteFn>(dll, "NFP_WriteScard")(device, Word(argv[3]), Word(argv[4]),
                                                     static_cast<unsigned short>(data.size()), data.data());
        printf("%d\n", result);
    } else if (!strcmp(command, "read") && argc == 6) {
        unsigned short length = Word(argv[5]);
        std::vector<unsigned char> buffer(length ? length : 1, 0xEE);
        unsigned short count = 0xFFFF;
        result = Get<ReadFn>(dll, "NFP_ReadScard")(device, Word(argv[3]), Word(argv[4]), length, buffer.data(),
                                                   &count);
        printf("%d %u ", result, count);
        if (result == 1)
            for (unsigned i = 0; i < count; ++i) printf("%02x", buffer[i]);
        printf("\n");
    } else {
        return Usage();
    }
    if (device != INVALID_HANDLE_VALUE) close(device);
    return 0;
}
