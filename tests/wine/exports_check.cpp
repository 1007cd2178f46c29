// exports_check: loads the shipped KX7300V20.dll as an application would,
// finds every function at its ordinal and calls the ones that need no reader.
#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

int failures = 0;

void Check(bool ok, const char *what) {
    printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++failures;
}

const char *const kNames[22] = {
    "NFP_Capture",      "NFP_CaptureImage", "NFP_CaptureImageEx",   "NFP_CapturePart",
    "NFP_Close",        "NFP_CorrectImage", "NFP_DrawImage",        "NFP_GetDevType",
    "NFP_GetTelvaData", "NFP_GetSerial",    "NFP_GetUserData",      "NFP_GetVersion",
    "NFP_OK_LED_Off",   "NFP_OK_LED_On",    "NFP_Open",             "NFP_ReadScard",
    "NFP_SetTelvaData", "NFP_SetSerial",    "NFP_SetUserData",      "NFP_StartButtonStatus",
    "NFP_StopButtonStatus", "NFP_WriteScard",
};

}  // namespace

int main() {
    HMODULE dll = LoadLibraryA("KX7300V20.dll");
    Check(dll != nullptr, "LoadLibraryA(\"KX7300V20.dll\")");
    if (!dll) return 1;

    for (int ordinal = 1; ordinal <= 22; ++ordinal) {
        FARPROC byOrdinal = GetProcAddress(dll, MAKEINTRESOURCEA(ordinal));
        FARPROC byName = GetProcAddress(dll, kNames[ordinal - 1]);
        char what[96];
        snprintf(what, sizeof what, "ordinal %d is %s", ordinal, kNames[ordinal - 1]);
        Check(byOrdinal != nullptr && byOrdinal == byName, what);
    }
    Check(GetProcAddress(dll, MAKEINTRESOURCEA(23)) == nullptr, "no ordinal 23");
    Check(GetProcAddress(dll, "NFP_Open@4") == nullptr, "no decorated names");

    typedef int(WINAPI * GetVersionFn)(unsigned short *);
    typedef HANDLE(WINAPI * OpenFn)(int);
    typedef int(WINAPI * CloseFn)(HANDLE);
    auto getVersion = reinterpret_cast<GetVersionFn>(reinterpret_cast<void *>(GetProcAddress(dll, MAKEINTRESOURCEA(12))));
    auto open = reinterpret_cast<OpenFn>(reinterpret_cast<void *>(GetProcAddress(dll, MAKEINTRESOURCEA(15))));
    auto close = reinterpret_cast<CloseFn>(reinterpret_cast<void *>(GetProcAddress(dll, MAKEINTRESOURCEA(5))));

    unsigned short version = 0;
    Check(getVersion(&version) == 1 && version == 256, "NFP_GetVersion gives 256");
    // Index 7 never has a reader in the tests.
    Check(open(7) == INVALID_HANDLE_VALUE, "NFP_Open(7) with no reader gives -1");
    Check(close(INVALID_HANDLE_VALUE) == -201, "NFP_Close(-1) gives -201");
    FreeLibrary(dll);
    return failures ? 1 : 0;
}
