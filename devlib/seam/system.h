// system.h - the one seam through which the library reaches the system.
//
// Holds: SystemOps, the table of every system call the library makes, and
// System(), which answers the table of the backend linked in (win32_system.cpp
// in the DLL, host_system.cpp in the native build). Needs nothing first.
//
// Each operation carries exactly what the library needs; the Win32 backend
// turns it into one system call with the arguments the library fixes.
#ifndef KX_SEAM_SYSTEM_H
#define KX_SEAM_SYSTEM_H

#include <stddef.h>
#include <stdint.h>

// The monitor thread's entry uses the system's thread calling convention.
#if defined(_WIN32) && defined(__i386__)
#define KX_THREAD_CALL __attribute__((stdcall))
#else
#define KX_THREAD_CALL
#endif

namespace kx {

using Handle = void *;

// The system's invalid handle value: "no device".
inline Handle NoDevice() { return reinterpret_cast<Handle>(static_cast<intptr_t>(-1)); }

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

using ThreadEntry = uint32_t(KX_THREAD_CALL *)(void *argument);

struct SystemOps {
    // Opens a device object by path for reading and writing, unshared,
    // synchronous. Answers the handle exactly as the system gives it:
    // NoDevice() on failure.
    Handle (*openDevice)(const char *path);

    // Closes any handle this table gave out. True when the system agreed.
    bool (*closeHandle)(Handle handle);

    // One buffered I/O control request, synchronous, no overlapped
    // structure. A missing input or output is (nullptr, 0). On success
    // *returned holds the driver's bytes-returned count. True on success.
    bool (*control)(Handle device, uint32_t code, const void *input,
                    uint32_t inputSize, void *output, uint32_t outputSize,
                    uint32_t *returned);

    // One synchronous read of up to size bytes. *got gets the count the
    // system reports. True on success.
    bool (*read)(Handle device, void *buffer, uint32_t size, uint32_t *got);

    // A line for the system debugger.
    void (*debugOutput)(const char *text);

    // A block of the process heap, or nullptr when there is none.
    void *(*allocate)(size_t size);
    // Gives a block from allocate back; nullptr is ignored.
    void (*release)(void *block);

    // A named auto-reset event, not signalled, no security attributes.
    // Every creation with the same name gives the same object. nullptr on
    // failure.
    Handle (*createEvent)(const char *name);
    void (*setEvent)(Handle event);
    // Waits on an object up to timeoutMs (kWaitForever: no limit). True
    // when it was signalled, false on time-out or failure.
    bool (*wait)(Handle object, uint32_t timeoutMs);

    // A thread running entry(argument) at once, default security and
    // stack. Answers its handle, or nullptr when none could be made.
    Handle (*createThread)(ThreadEntry entry, void *argument);

    // Sends a window message and returns once the window procedure has
    // handled it.
    void (*sendMessage)(void *window, uint32_t message, uintptr_t wParam,
                        intptr_t lParam);

    // GDI: stretch mode of a device context, and a stretched draw of a
    // device-independent bitmap (info: BITMAPINFOHEADER + colour table).
    // Results are not reported: the library does not examine them.
    void (*setStretchMode)(void *dc, int mode);
    void (*stretchDIBits)(void *dc, int xDest, int yDest, int destWidth,
                          int destHeight, int xSrc, int ySrc, int srcWidth,
                          int srcHeight, const void *bits, const void *info);
};

// The table of the backend linked into this build.
const SystemOps &System();

}  // namespace kx

#endif
