// button_window: the button monitor of the shipped DLL delivering to a
// real window. Presses come from vreader.exe through the virtual reader
// driver; the window's thread pumps messages while they arrive.
//
//   button_window INDEX     (a freshly attached reader must be there)
//
// Checks: the start answers 0 and the monitor registers; each press gives
// one message 1034 (status word, Device handle) on the window's thread; the
// stop answers 0 and the monitor's thread ends, after which presses reach
// nobody; a restart works and sees no stale wake-up; and a stop run by the
// window's own thread while the monitor waits inside a send to it gives up
// after 1000 ms, after which the monitor still ends cleanly.
#include <windows.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

typedef HANDLE(WINAPI *OpenFn)(int);
typedef int(WINAPI *CloseFn)(HANDLE);
typedef int(WINAPI *StartFn)(HANDLE, HWND);
typedef int(WINAPI *StopFn)(HANDLE);
OpenFn Open;
CloseFn Close;
StartFn Start;
StopFn Stop;

const UINT kButtonMessage = 1034;  // WM_USER + 10
int failures = 0;
int index = 0;

bool Check(bool ok, const char *what) {
    printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    fflush(stdout);
    if (!ok) ++failures;
    return ok;
}

struct Received {
    WPARAM wParam;
    LPARAM lParam;
    DWORD thread;
};
std::vector<Received> received;

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kButtonMessage) {
        received.push_back({wParam, lParam, GetCurrentThreadId()});
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void PumpFor(DWORD ms) {
    DWORD end = GetTickCount() + ms;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        DWORD now = GetTickCount();
        if (static_cast<int>(end - now) <= 0) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
    }
}

bool PumpUntilReceived(size_t count, DWORD ms) {
    DWORD end = GetTickCount() + ms;
    while (received.size() < count && static_cast<int>(end - GetTickCount()) > 0) PumpFor(10);
    return received.size() >= count;
}

// Runs vreader.exe beside this program; its output is returned. With pump
// the window's messages are handled meanwhile, as a live application's are.
bool RunTool(const std::string &arguments, std::string *output, bool pump) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    while (n && path[n - 1] != '\\' && path[n - 1] != '/') --n;
    path[n] = 0;
    std::string line = std::string("\"") + path + "vreader.exe\" " + arguments;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 1 << 20)) return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    std::vector<char> mutableLine(line.begin(), line.end());
    mutableLine.push_back(0);
    BOOL made = CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &process);
    CloseHandle(writeEnd);
    if (!made) {
        CloseHandle(readEnd);
        return false;
    }
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    DWORD end = GetTickCount() + 30000;
    for (;;) {
        DWORD available = 0;
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available &&
               ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got)
            text.append(buffer, got);
        DWORD wait = pump ? MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 20, QS_ALLINPUT)
                          : WaitForSingleObject(process.hProcess, 20);
        if (wait == WAIT_OBJECT_0) break;
        if (pump) PumpFor(0);
        if (static_cast<int>(end - GetTickCount()) <= 0) break;
    }
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got) text.append(buffer, got);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(readEnd);
    if (output) *output = text;
    return code == 0;
}

bool Press(uint32_t status, bool pump = true) {
    char arguments[64];
    snprintf(arguments, sizeof arguments, "press %d 0x%08X", index, status);
    return RunTool(arguments, nullptr, pump);
}

// How many requests of this name the driver has logged for the reader.
int Logged(const char *name, bool pump = true) {
    std::string log;
    char arguments[32];
    snprintf(arguments, sizeof arguments, "log %d", index);
    if (!RunTool(arguments, &log, pump)) return -1;
    int count = 0;
    std::string word = std::string(name) + " ";
    for (size_t at = 0; (at = log.find(word, at)) != std::string::npos; at += word.size())
        if (at == 0 || log[at - 1] == '\n') ++count;
    return count;
}

bool LoggedAtLeast(const char *name, int count, bool pump = true) {
    for (int tries = 0; tries < 50; ++tries) {
        if (Logged(name, pump) >= count) return true;
        if (pump) PumpFor(100); else Sleep(100);
    }
    return false;
}

int Threads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

bool ThreadsBackTo(int count) {
    for (int tries = 0; tries < 100 && Threads() != count; ++tries) PumpFor(50);
    return Threads() == count;
}

bool AckEventOpen() {
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, "KX7300Event1");
    if (!event) return false;
    CloseHandle(event);
    return true;
}

bool IsButton(const Received &r, uint32_t status, HANDLE device) {
    return r.wParam == status && r.lParam == reinterpret_cast<LPARAM>(device) &&
           r.thread == GetCurrentThreadId();
}

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    index = argc > 1 ? atoi(argv[1]) : 0;
    HMODULE dll = LoadLibraryA("KX7300V20.dll");
    if (!Check(dll != nullptr, "KX7300V20.dll loads")) return 1;
    Open = reinterpret_cast<OpenFn>(reinterpret_cast<void *>(GetProcAddress(dll, "NFP_Open")));
    Close = reinterpret_cast<CloseFn>(reinterpret_cast<void *>(GetProcAddress(dll, "NFP_Close")));
    Start = reinterpret_cast<StartFn>(reinterpret_cast<void *>(GetProcAddress(dll, "NFP_StartButtonStatus")));
    Stop = reinterpret_cast<StopFn>(reinterpret_cast<void *>(GetProcAddress(dll, "NFP_StopButtonStatus")));

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KXButtonTestWindow";
    RegisterClassA(&windowClass);
    // A top-level window where Wine has a display; otherwise a message-only
    // window, which has the same window procedure, queue and sent-message
    // handling but needs no display driver.
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "button test", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                  100, nullptr, nullptr, windowClass.hInstance, nullptr);
    const char *kind = "top-level";
    if (!window) {
        window = CreateWindowExA(0, windowClass.lpszClassName, "button test", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                 nullptr, windowClass.hInstance, nullptr);
        kind = "message-only";
    }
    char what[64];
    snprintf(what, sizeof what, "a %s window of our own", kind);
    if (!Check(window != nullptr, what)) return 1;
    HANDLE device = Open(index);
    if (!Check(device != INVALID_HANDLE_VALUE, "NFP_Open finds the virtual reader")) return 1;

    // Start, register, one message per press.
    int before = Threads();
    Check(Start(device, window) == 0, "NFP_StartButtonStatus answers 0");
    Check(Threads() == before + 1, "one monitor thread runs");
    Check(AckEventOpen(), "the event \"KX7300Event1\" exists while the monitor runs");
    Check(LoggedAtLeast("REQ_BUTTON_EVENT", 1), "the monitor registers its event with the driver");
    const uint32_t statuses[] = {0x00001234, 0xBEEF0001};
    for (uint32_t status : statuses) {
        size_t had = received.size();
        char what[96];
        snprintf(what, sizeof what, "vreader press %d 0x%08X", index, status);
        Check(Press(status), what);
        snprintf(what, sizeof what, "message 1034 with wParam 0x%08X and the handle in lParam, on our thread",
                 status);
        Check(PumpUntilReceived(had + 1, 5000) && IsButton(received[had], status, device), what);
    }
    PumpFor(300);
    Check(received.size() == 2, "exactly one message per press");
    Check(Logged("REQ_BUTTON_READ") == 2, "one REQ_BUTTON_READ per press");

    DWORD begun = GetTickCount();
    Check(Stop(device) == 0, "NFP_StopButtonStatus answers 0");
    printf("     the stop took %lu ms\n", static_cast<unsigned long>(GetTickCount() - begun));
    Check(ThreadsBackTo(before), "the monitor's thread has ended");
    Check(!AckEventOpen(), "the event \"KX7300Event1\" is closed");
    Check(Logged("REQ_BUTTON_STOP") == 1, "one REQ_BUTTON_STOP");
    Press(0x77);
    PumpFor(300);
    Check(received.size() == 2 && Logged("REQ_BUTTON_READ") == 2, "after the stop a press reaches nobody");

    // Again: the wake-ups that ended the first monitor must not reach the
    // second one.
    Check(Start(device, window) == 0, "a second NFP_StartButtonStatus answers 0");
    Check(LoggedAtLeast("REQ_BUTTON_EVENT", 2), "the new monitor registers");
    PumpFor(300);
    Check(received.size() == 2 && Logged("REQ_BUTTON_READ") == 2, "no stale wake-up from the last stop");
    Check(Press(0x5555) && PumpUntilReceived(3, 5000) && IsButton(received[2], 0x5555, device),
          "the new monitor delivers a press");

    // The window's thread stops while the monitor waits to send it a
    // message: this thread pumps nothing inside the stop.
    Check(Press(0x6666, false), "a press the window does not handle yet");
    Check(LoggedAtLeast("REQ_BUTTON_READ", 4, false), "the monitor has read it and now sends");
    begun = GetTickCount();
    Check(Stop(device) == 0, "NFP_StopButtonStatus on the window's thread answers 0");
    DWORD took = GetTickCount() - begun;
    printf("     the stop took %lu ms\n", static_cast<unsigned long>(took));
    Check(took >= 990, "it gave up after the 1000 ms bound");
    Check(!AckEventOpen(), "the event \"KX7300Event1\" is closed");
    Check(PumpUntilReceived(4, 5000) && IsButton(received[3], 0x6666, device),
          "pumping again takes the message the monitor was sending");
    Check(ThreadsBackTo(before), "and then the monitor's thread ends");
    Press(0x77);
    PumpFor(300);
    Check(received.size() == 4, "nothing more arrives");

    Close(device);
    DestroyWindow(window);
    printf("%s\n", failures ? "button_window: FAILED" : "button_window: passed");
    return failures ? 1 : 0;
}
