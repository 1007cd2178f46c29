// win32_system.cpp - the seam's Win32 backend: one system call per operation.
#include <windows.h>

#include "system.h"

namespace kx {
namespace {

Handle OpenDevice(const char *path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

bool CloseOne(Handle handle) { return CloseHandle(handle) != FALSE; }

bool Control(Handle device, uint32_t code, const void *input,
             uint32_t inputSize, void *output, uint32_t outputSize,
             uint32_t *returned) {
    DWORD count = 0;
    BOOL ok = DeviceIoControl(device, code, const_cast<void *>(input),
                              inputSize, output, outputSize, &count, nullptr);
    *returned = count;
    return ok != FALSE;
}

bool Read(Handle device, void *buffer, uint32_t size, uint32_t *got) {
    DWORD count = 0;
    BOOL ok = ReadFile(device, buffer, size, &count, nullptr);
    *got = count;
    return ok != FALSE;
}

void DebugOutput(const char *text) { OutputDebugStringA(text); }

void *Allocate(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

void Release(void *block) {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

Handle CreateNamedEvent(const char *name) {
    return CreateEventA(nullptr, FALSE, FALSE, name);
}

void Signal(Handle event) { SetEvent(event); }

bool Wait(Handle object, uint32_t timeoutMs) {
    return WaitForSingleObject(object, timeoutMs) == WAIT_OBJECT_0;
}

Handle StartThread(ThreadEntry entry, void *argument) {
    return CreateThread(nullptr, 0,
                        reinterpret_cast<LPTHREAD_START_ROUTINE>(entry),
                        argument, 0, nullptr);
}

void Send(void *window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    SendMessageA(static_cast<HWND>(window), message, wParam, lParam);
}

void StretchMode(void *dc, int mode) {
    SetStretchBltMode(static_cast<HDC>(dc), mode);
}

void StretchBits(void *dc, int xDest, int yDest, int destWidth, int destHeight,
                 int xSrc, int ySrc, int srcWidth, int srcHeight,
                 const void *bits, const void *info) {
    StretchDIBits(static_cast<HDC>(dc), xDest, yDest, destWidth, destHeight,
                  xSrc, ySrc, srcWidth, srcHeight, bits,
                  static_cast<const BITMAPINFO *>(info), DIB_RGB_COLORS,
                  SRCCOPY);
}

const SystemOps kWin32 = {
    .openDevice = OpenDevice,
    .closeHandle = CloseOne,
    .control = Control,
    .read = Read,
    .debugOutput = DebugOutput,
    .allocate = Allocate,
    .release = Release,
    .createEvent = CreateNamedEvent,
    .setEvent = Signal,
    .wait = Wait,
    .createThread = StartThread,
    .sendMessage = Send,
    .setStretchMode = StretchMode,
    .stretchDIBits = StretchBits,
};

}  // namespace

const SystemOps &System() { return kWin32; }

}  // namespace kx

// The library does all its work in the exported functions: the load entry
// answers success for every notification and does nothing else.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
