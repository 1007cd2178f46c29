// driver_button: the button notification path through the driver, the
// way the library's monitor uses it: a named auto-reset event
// "KX7300Event2" registered with REQ_BUTTON_EVENT, woken by a press from
// the control device or from vreader.exe, and by REQ_BUTTON_STOP.
//
//   driver_button INDEX     (a reader must be attached there)
#include <windows.h>

#include <stdlib.h>

#include "driver_control.h"

using namespace vreader::control;
using test::Check;

namespace {

constexpr DWORD kButtonRead = 0x222188;
constexpr DWORD kButtonStop = 0x22218C;
constexpr DWORD kButtonEvent = 0x222190;

bool Woken(HANDLE event, DWORD ms) { return WaitForSingleObject(event, ms) == WAIT_OBJECT_0; }

uint32_t ReadStatus(HANDLE reader, DWORD *returned) {
    uint32_t status = 0;
    *returned = 0;
    if (!test::Ioctl(reader, kButtonRead, nullptr, 0, &status, sizeof status, returned))
        *returned = 0xFFFFFFFF;
    return status;
}

// vreader.exe beside this program, as a developer would run it.
bool RunTool(const char *arguments) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    while (n && path[n - 1] != '\\' && path[n - 1] != '/') --n;
    path[n] = 0;
    char line[MAX_PATH + 128];
    snprintf(line, sizeof line, "\"%svreader.exe\" %s", path, arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code == 0;
}

}  // namespace

int main(int argc, char **argv) {
    test::PlainOutput();
    uint32_t index = argc > 1 ? static_cast<uint32_t>(atoi(argv[1])) : 0;
    HANDLE control = test::OpenControl();
    HANDLE reader = test::OpenReader(static_cast<int>(index));
    if (!Check(control != INVALID_HANDLE_VALUE && reader != INVALID_HANDLE_VALUE,
               "control device and reader open"))
        return 1;

    // A press before anything is registered wakes nobody and fails nothing.
    StateReply state;
    Check(test::Press(control, index, 0x11) && test::State(control, index, &state) &&
              !state.buttonRegistered && state.signals == 0,
          "a press with no event registered is harmless");

    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, "KX7300Event2");
    uint32_t value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(event));
    Check(test::Ioctl(reader, kButtonEvent, &value, sizeof value, nullptr, 0),
          "REQ_BUTTON_EVENT with the handle value succeeds");
    Check(test::State(control, index, &state) && state.buttonRegistered &&
              state.buttonEvent == value,
          "the reader keeps the registered handle value");
    // Under Wine the driver cannot use the caller's handle; the name must do.
    printf("     event binding: %u\n", state.eventBinding);
    Check(state.eventBinding == kEventByName || state.eventBinding == kEventByHandle,
          "the driver holds the event");

    DWORD returned = 0;
    Check(test::Press(control, index, 0x1234), "press 0x1234 from the control device");
    Check(Woken(event, 5000), "the press wakes the event");
    Check(ReadStatus(reader, &returned) == 0x1234 && returned == 4,
          "REQ_BUTTON_READ answers the pressed status word, 4 bytes");
    Check(!Woken(event, 300), "no wake-up without a press");

    char press[64];
    snprintf(press, sizeof press, "press %u 0xBEEF", index);
    Check(RunTool(press), "vreader press INDEX 0xBEEF exits 0");
    Check(Woken(event, 5000), "vreader's press wakes the event");
    Check(ReadStatus(reader, &returned) == 0xBEEF, "and the status word is 0xBEEF");

    // Notifications while the monitor is busy merge: the event is auto-reset.
    test::Press(control, index, 1);
    test::Press(control, index, 2);
    Check(Woken(event, 5000) && !Woken(event, 300), "two presses give one wake-up");
    Check(ReadStatus(reader, &returned) == 2, "the later status word wins");

    Check(test::Ioctl(reader, kButtonStop, nullptr, 0, nullptr, 0), "REQ_BUTTON_STOP succeeds");
    Check(Woken(event, 5000), "REQ_BUTTON_STOP wakes the event");
    // The monitor has left: the next one must not find the event signalled.
    test::Press(control, index, 0x99);
    Check(test::State(control, index, &state) && !state.buttonRegistered &&
              state.eventBinding == kEventNone && !Woken(event, 300),
          "after REQ_BUTTON_STOP the registration is over: a press wakes nothing");
    Check(test::Ioctl(reader, kButtonEvent, &value, sizeof value, nullptr, 0) &&
              test::Press(control, index, 0x77) && Woken(event, 5000) &&
              ReadStatus(reader, &returned) == 0x77,
          "a new registration is woken again");

    // A reader described anew forgets the registration: no stray wake-ups.
    Check(test::Attach(control, index, '3', true), "describe the reader anew");
    uint32_t before = 0;
    if (test::State(control, index, &state)) before = state.signals;
    test::Press(control, index, 7);
    Check(test::State(control, index, &state) && !state.buttonRegistered &&
              state.signals == before && !Woken(event, 300),
          "after a new description a press wakes nothing");

    CloseHandle(event);
    CloseHandle(reader);
    CloseHandle(control);
    printf("%s\n", test::failures ? "driver_button: FAILED" : "driver_button: passed");
    return test::failures ? 1 : 0;
}
