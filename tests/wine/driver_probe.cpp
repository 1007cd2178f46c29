// driver_probe: runs steps against one reader through the shipped
// KX7300V20.dll (loaded by name, as an application would) and prints one
// line per step for the driver tests to compare.
//
//   driver_probe INDEX STEP...
//     open                      "open: ok" or "open: -1"
//     close                     "close: RESULT"
//     devtype                   "devtype: N"
//     get-serial | get-userdata | get-telva
//                               "get-serial: RESULT "TEXT"" or "... untouched"
//     set-serial TEXT | set-userdata TEXT | set-telva TEXT
//                               "set-serial: RESULT"
//     raw NAME HEX OUTSIZE      one request on the open handle:
//                               "raw NAME: ok|failed returned=N HEX"
//     read SIZE                 one image read: "read: ok|failed got=N HEX"
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "KX7300V20.h"

namespace {

struct Library {
    HANDLE(WINAPI *open)(int);
    int(WINAPI *close)(HANDLE);
    int(WINAPI *devType)(HANDLE);
    int(WINAPI *getSerial)(HANDLE, unsigned char *);
    int(WINAPI *setSerial)(HANDLE, const unsigned char *);
    int(WINAPI *getUserData)(HANDLE, unsigned char *);
    int(WINAPI *setUserData)(HANDLE, const unsigned char *);
    int(WINAPI *getTelva)(HANDLE, unsigned char *);
    int(WINAPI *setTelva)(HANDLE, const unsigned char *);
};

template <typename F>
void Bind(HMODULE dll, const char *name, F *function) {
    FARPROC address = GetProcAddress(dll, name);
    if (!address) {
        printf("driver_probe: KX7300V20.dll has no %s\n", name);
        exit(2);
    }
    *function = reinterpret_cast<F>(reinterpret_cast<void *>(address));
}

struct Request {
    const char *name;
    DWORD code;
};
const Request kRequests[] = {
    {"REQ_WRITE_REGISTER", 0x222144}, {"REQ_CAPTURE_OPEN", 0x222148},
    {"REQ_TRANSFER_START", 0x22214C}, {"REQ_CAPTURE_ARM", 0x222150},
    {"REQ_CAPTURE_CLOSE", 0x222154},  {"REQ_MEMORY_WRITE", 0x222168},
    {"REQ_MEMORY_READ", 0x22216C},    {"REQ_SCARD_WRITE", 0x22217C},
    {"REQ_SCARD_READ", 0x222180},     {"REQ_BUTTON_READ", 0x222188},
    {"REQ_BUTTON_STOP", 0x22218C},    {"REQ_BUTTON_EVENT", 0x222190},
    {"REQ_LED_ON", 0x2221A0},         {"REQ_LED_OFF", 0x2221A4},
};

DWORD CodeOf(const char *name) {
    for (const Request &r : kRequests)
        if (strcmp(r.name, name) == 0) return r.code;
    char *end = nullptr;
    unsigned long code = strtoul(name, &end, 0);
    if (*end || end == name) {
        printf("driver_probe: unknown request %s\n", name);
        exit(2);
    }
    return code;
}

void PrintHex(const unsigned char *bytes, DWORD size) {
    for (DWORD i = 0; i < size; ++i) printf("%02x", bytes[i]);
}

size_t ParseHex(const char *text, unsigned char *bytes, size_t capacity) {
    size_t n = 0;
    if (strcmp(text, "-") == 0) return 0;
    for (; text[0] && text[1] && n < capacity; text += 2) {
        char pair[3] = {text[0], text[1], 0};
        bytes[n++] = static_cast<unsigned char>(strtoul(pair, nullptr, 16));
    }
    return n;
}

constexpr unsigned char kUntouched = 0xEE;

// A getter's line: the result and the text, or "untouched" when the
// buffer kept its filling.
void Getter(const char *step, int result, const unsigned char *buffer, size_t size) {
    printf("%s: %d ", step, result);
    bool untouched = true;
    for (size_t i = 0; i < size; ++i) untouched = untouched && buffer[i] == kUntouched;
    if (untouched) {
        printf("untouched\n");
        return;
    }
    printf("\"");
    for (size_t i = 0; i < size && buffer[i]; ++i) putchar(buffer[i]);
    printf("\"\n");
}

}  // namespace

int main(int argc, char **argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 3) {
        printf("usage: driver_probe INDEX STEP...\n");
        return 2;
    }
    HMODULE dll = LoadLibraryA("KX7300V20.dll");
    if (!dll) {
        printf("driver_probe: cannot load KX7300V20.dll\n");
        return 2;
    }
    Library nfp;
    Bind(dll, "NFP_Open", &nfp.open);
    Bind(dll, "NFP_Close", &nfp.close);
    Bind(dll, "NFP_GetDevType", &nfp.devType);
    Bind(dll, "NFP_GetSerial", &nfp.getSerial);
    Bind(dll, "NFP_SetSerial", &nfp.setSerial);
    Bind(dll, "NFP_GetUserData", &nfp.getUserData);
    Bind(dll, "NFP_SetUserData", &nfp.setUserData);
    Bind(dll, "NFP_GetTelvaData", &nfp.getTelva);
    Bind(dll, "NFP_SetTelvaData", &nfp.setTelva);

    int index = atoi(argv[1]);
    HANDLE device = INVALID_HANDLE_VALUE;
    for (int i = 2; i < argc; ++i) {
        const char *step = argv[i];
        auto argument = [&](const char *what) -> const char * {
            if (i + 1 >= argc) {
                printf("driver_probe: %s needs %s\n", step, what);
                exit(2);
            }
            return argv[++i];
        };
        if (!strcmp(step, "open")) {
            device = nfp.open(index);
            if (device == INVALID_HANDLE_VALUE)
                printf("open: -1\n");
            else
                printf("open: ok\n");
        } else if (!strcmp(step, "close")) {
            printf("close: %d\n", nfp.close(device));
            device = INVALID_HANDLE_VALUE;
        } else if (!strcmp(step, "devtype")) {
            printf("devtype: %d\n", nfp.devType(device));
        } else if (!strncmp(step, "get-", 4)) {
            unsigned char buffer[32];
            memset(buffer, kUntouched, sizeof buffer);
            if (!strcmp(step, "get-serial"))
                Getter(step, nfp.getSerial(device, buffer), buffer, 32);
            else if (!strcmp(step, "get-userdata"))
                Getter(step, nfp.getUserData(device, buffer), buffer, 32);
            else if (!strcmp(step, "get-telva"))
                Getter(step, nfp.getTelva(device, buffer), buffer, 2);
            else
                return printf("driver_probe: unknown step %s\n", step), 2;
        } else if (!strncmp(step, "set-", 4)) {
            unsigned char buffer[32] = {};
            const char *text = argument("TEXT");
            memcpy(buffer, text, strlen(text) < 32 ? strlen(text) : 32);
            int result;
            if (!strcmp(step, "set-serial"))
                result = nfp.setSerial(device, buffer);
            else if (!strcmp(step, "set-userdata"))
                result = nfp.setUserData(device, buffer);
            else if (!strcmp(step, "set-telva"))
                result = nfp.setTelva(device, buffer);
            else
                return printf("driver_probe: unknown step %s\n", step), 2;
            printf("%s: %d\n", step, result);
        } else if (!strcmp(step, "raw")) {
            const char *name = argument("NAME");
            DWORD code = CodeOf(name);
            static unsigned char input[16384], output[16384];
            size_t inSize = ParseHex(argument("HEX"), input, sizeof input);
            DWORD outSize = strtoul(argument("OUTSIZE"), nullptr, 0);
            if (outSize > sizeof output) outSize = sizeof output;
            DWORD returned = 0;
            BOOL ok = DeviceIoControl(device, code, inSize ? input : nullptr,
                                      static_cast<DWORD>(inSize), outSize ? output : nullptr,
                                      outSize, &returned, nullptr);
            printf("raw %s: %s returned=%lu ", name, ok ? "ok" : "failed", returned);
            PrintHex(output, ok && returned <= outSize ? returned : 0);
            printf("\n");
        } else if (!strcmp(step, "read")) {
            DWORD size = strtoul(argument("SIZE"), nullptr, 0);
            static unsigned char buffer[1 << 17];
            if (size > sizeof buffer) size = sizeof buffer;
            DWORD got = 0;
            BOOL ok = ReadFile(device, buffer, size, &got, nullptr);
            printf("read: %s got=%lu ", ok ? "ok" : "failed", got);
            PrintHex(buffer, got <= size ? got : 0);
            printf("\n");
        } else {
            printf("driver_probe: unknown step %s\n", step);
            return 2;
        }
    }
    return 0;
}
