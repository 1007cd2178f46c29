// driver_control.h - what the driver test programs share: checks that
// print "ok"/"FAIL" lines, and raw requests on a reader and on the virtual
// reader driver's control device. Needs windows.h first.
#ifndef TESTS_WINE_DRIVER_CONTROL_H
#define TESTS_WINE_DRIVER_CONTROL_H

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "driver/control_protocol.h"

namespace test {

inline int failures = 0;

inline bool Check(bool ok, const char *what) {
    printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++failures;
    return ok;
}

inline HANDLE OpenPath(const char *path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

inline HANDLE OpenReader(int index) {
    char path[64];
    snprintf(path, sizeof path, "\\\\.\\KX7300Device-%d", index);
    return OpenPath(path);
}

inline HANDLE OpenControl() { return OpenPath(vreader::control::kControlPath); }

// One buffered request; *error gets GetLastError() of a failure, 0 else.
inline bool Ioctl(HANDLE device, DWORD code, const void *in, DWORD inSize, void *out,
                  DWORD outSize, DWORD *returned = nullptr, DWORD *error = nullptr) {
    DWORD count = 0xDEAD;
    SetLastError(0);
    BOOL ok = DeviceIoControl(device, code, const_cast<void *>(in), inSize, out, outSize, &count,
                              nullptr);
    if (returned) *returned = count;
    if (error) *error = ok ? 0 : GetLastError();
    return ok != FALSE;
}

// Attaches (or describes anew) a reader of the given model.
inline bool Attach(HANDLE control, uint32_t index, char model, bool replace = false) {
    std::vector<uint8_t> record(sizeof(vreader::control::AttachRequest));
    auto *request = reinterpret_cast<vreader::control::AttachRequest *>(record.data());
    vreader::DefaultDescription(&request->description);
    request->description.identity[0] = static_cast<uint8_t>(model);
    request->descriptionSize = sizeof(vreader::Description);
    request->index = index;
    request->flags = replace ? vreader::control::kAttachReplace : 0u;
    return Ioctl(control, vreader::control::VR_ATTACH, record.data(),
                 static_cast<DWORD>(record.size()), nullptr, 0);
}

inline bool Detach(HANDLE control, uint32_t index) {
    vreader::control::IndexRequest request = {index};
    return Ioctl(control, vreader::control::VR_DETACH, &request, sizeof request, nullptr, 0);
}

inline bool State(HANDLE control, uint32_t index, vreader::control::StateReply *state) {
    vreader::control::IndexRequest request = {index};
    return Ioctl(control, vreader::control::VR_STATE, &request, sizeof request, state,
                 sizeof *state);
}

inline bool Press(HANDLE control, uint32_t index, uint32_t status) {
    vreader::control::PressRequest request = {index, status};
    return Ioctl(control, vreader::control::VR_PRESS, &request, sizeof request, nullptr, 0);
}

inline void PlainOutput() { _setmode(_fileno(stdout), _O_BINARY); }

}  // namespace test

#endif
