// button_monitor.cpp - the button monitor: a thread that waits for the
// driver's button notifications and hands each status word to a window.
//
// One monitor per process. Its state lives in a Session block from the
// heap, because the stop and a late monitor both need it after the start
// has returned. Who releases the block is settled by one atomic word:
// when the stop has its exit acknowledgement it releases everything; when
// the stop gave up waiting (the window's thread ran the stop while the
// monitor was sending to it), it closes only the acknowledgement event and
// the thread handle, and the monitor, on its way out, finds that out and
// releases the rest itself without touching the closed event.
#include <stdint.h>

#include <atomic>
#include <new>

#include "KX7300V20.h"
#include "requests.h"

using namespace kx;

namespace {

constexpr uint32_t kButtonMessage = NFP_BUTTON_MESSAGE;
constexpr uint32_t kStopWaitMs = 1000;
const char kAckEventName[] = "KX7300Event1";
const char kWakeEventName[] = "KX7300Event2";

// Session::leaving: how the monitor's exit and the stop's wait meet.
enum : int32_t {
    kExitOpen = 0,       // the monitor runs; the stop has not given up
    kExitSignalled = 1,  // the monitor acknowledges its exit, or left at its start
    kExitAbandoned = 2,  // the stop gave up; the monitor cleans up alone
};

struct Session {
    // MonitorParameters: what the monitor serves.
    Handle device;
    void *window;
    // MonitorAckEvent: start and exit acknowledgement, auto-reset.
    Handle ack;
    // MonitorWakeEvent, made by the monitor before it acknowledges its
    // start, so the stop can always find it.
    Handle wake;
    // MonitorThread.
    Handle thread;
    // MonitorRunning, per session: a monitor the stop gave up on must see
    // its own 0 even after a new start has begun another session.
    std::atomic<int32_t> running;
    std::atomic<int32_t> leaving;
};

// The session of the monitor that runs, or nullptr.
std::atomic<Session *> current{nullptr};

void Release(Session *session) {
    session->~Session();
    System().release(session);
}

uint32_t KX_THREAD_CALL Monitor(void *argument) {
    Session *session = static_cast<Session *>(argument);
    const Handle device = session->device;
    void *const window = session->window;
    const Handle ack = session->ack;

    Handle wake = System().createEvent(kWakeEventName);
    session->wake = wake;
    if (!wake) {
        // Nothing to wait on: leave at once; the start sees it and cleans up.
        session->leaving.store(kExitSignalled);
        System().setEvent(ack);
        return 0;
    }
    // A named event can outlive us in the driver and keep a signal from an
    // earlier monitor's stop; that wake-up is not ours.
    System().wait(wake, 0);
    System().setEvent(ack);  // parameters taken: the start may return

    // The event's handle value, as the driver's 4-byte input.
    uint8_t registration[4];
    PutLong(registration, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(wake)));
    uint32_t returned = 0;
    System().control(device, REQ_BUTTON_EVENT, registration, sizeof registration,
                     nullptr, 0, &returned);

    uint32_t status = 0;  // a failed read leaves the previous word
    for (;;) {
        System().wait(wake, kWaitForever);
        if (!session->running.load()) break;
        uint8_t word[4] = {0, 0, 0, 0};
        if (System().control(device, REQ_BUTTON_READ, nullptr, 0, word,
                             sizeof word, &returned) &&
            returned >= sizeof word)
            status = GetLong(word);
        if (window)
            System().sendMessage(window, kButtonMessage, status,
                                 reinterpret_cast<intptr_t>(device));
        // The stop may have come, and given up, while the window was busy.
        if (!session->running.load()) break;
    }

    int32_t open = kExitOpen;
    if (session->leaving.compare_exchange_strong(open, kExitSignalled)) {
        // From here on the session is the stop's.
        System().setEvent(ack);
        return 0;
    }
    // The stop gave up and closed the acknowledgement event and the thread
    // handle; what is left is ours.
    System().closeHandle(wake);
    Release(session);
    return 0;
}

}  // namespace

extern "C" int NFP_CALL NFP_StartButtonStatus(HANDLE device, HWND window) {
    // One monitor at a time: while one runs, it keeps its reader and window.
    if (current.load()) return NFP_NO_RESULT;

    void *block = System().allocate(sizeof(Session));
    if (!block) return NFP_NO_RESULT;
    Session *session = new (block) Session;
    session->device = device;
    session->window = window;
    session->wake = nullptr;
    session->thread = nullptr;
    session->running.store(1);
    session->leaving.store(kExitOpen);

    session->ack = System().createEvent(kAckEventName);
    if (!session->ack) {
        Release(session);
        return NFP_NO_RESULT;
    }
    session->thread = System().createThread(Monitor, session);
    if (!session->thread) {
        System().closeHandle(session->ack);
        Release(session);
        return NFP_NO_RESULT;
    }
    // The monitor acknowledges exactly once in every case.
    System().wait(session->ack, kWaitForever);

    if (session->leaving.load() == kExitSignalled) {
        // It could not make its wake event and has left.
        System().wait(session->thread, kWaitForever);
        System().closeHandle(session->thread);
        System().closeHandle(session->ack);
        Release(session);
        return NFP_NO_RESULT;
    }
    current.store(session);
    return NFP_NO_RESULT;
}

extern "C" int NFP_CALL NFP_StopButtonStatus(HANDLE device) {
    // No monitor, nothing to stop: nothing is sent, no handle is touched.
    Session *session = current.exchange(nullptr);
    if (!session) return NFP_NO_RESULT;

    // First, so that the wake-up below makes the monitor leave.
    session->running.store(0);
    uint32_t returned = 0;
    System().control(device, REQ_BUTTON_STOP, nullptr, 0, nullptr, 0, &returned);
    // The driver signals the registered event; signal it here as well, so a
    // monitor whose registration failed, or that serves another handle than
    // the one given, still leaves.
    System().setEvent(session->wake);

    if (!System().wait(session->ack, kStopWaitMs)) {
        int32_t open = kExitOpen;
        if (session->leaving.compare_exchange_strong(open, kExitAbandoned)) {
            System().closeHandle(session->ack);
            System().closeHandle(session->thread);
            return NFP_NO_RESULT;
        }
        // It began its exit just now; it ends without waiting for anything.
        System().wait(session->thread, kWaitForever);
    }
    System().closeHandle(session->ack);
    System().closeHandle(session->wake);
    System().closeHandle(session->thread);
    Release(session);
    return NFP_NO_RESULT;
}
