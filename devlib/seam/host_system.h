// host_system.h - the seam's host backend, for native tests and benchmarks.
//
// Holds: the in-process "system": virtual readers attached at indices,
// named auto-reset events, threads, windows served by a thread of their
// own, a drawing surface, debug lines, and heap fault injection.
// Needs system.h and the virtual reader model.
#ifndef KX_SEAM_HOST_SYSTEM_H
#define KX_SEAM_HOST_SYSTEM_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "../../vreader/model/reader.h"
#include "system.h"

namespace kx {
namespace host {

// Makes reader answer the device path of index. The reader stays the
// caller's; Detach before it goes.
void Attach(int index, vreader::Reader *reader);
void Detach(int index);

// Forgets every reader, debug line and fault (not handles still open).
void Reset();

// The allocate call number nth from now fails (1 = the next one); with
// always, that one and every later one fail. nth 0 clears the fault.
void FailAllocation(uint32_t nth, bool always = false);
// Number of heap blocks given out and not yet released.
int LiveBlocks();
// Blocks released while they still held a non-zero byte: what a call
// that must wipe its buffers may not leave behind.
int DirtyReleases();
void ClearDirtyReleases();
// Bytes of the most recent allocate call.
size_t LastAllocationSize();

// Debug output lines in order.
std::vector<std::string> DebugLines();

// Handles given out and not yet closed (devices, events, threads).
int OpenHandles();
// Threads started by createThread that have not ended yet.
int RunningThreads();

// Successful control requests claim extra bytes beyond what the driver
// returned, as a faulty driver might; 0 turns it off.
void InflateReplies(uint32_t extra);

// Creating the named event or a thread fails while set. With after, that
// many event creations still succeed before the failures begin.
void FailEventCreation(bool fail, uint32_t after = 0);
void FailThreadCreation(bool fail);

// While held, threads from createThread exist but do not run their entry
// until released: a monitor that has not yet acknowledged its start.
void HoldThreads(bool hold);

// Names of the events open now, one per open handle, in handle order.
std::vector<std::string> OpenEventNames();

// Calls that named a handle no longer (or never) open: setEvent, wait
// and closeHandle on an unknown handle, a message sent to no window. A
// correct library never makes one.
int InvalidHandleUses();

// Waits with a time limit that ended because the time was up (polls with
// no time at all are not counted).
int TimedOutWaits();

// The driver side of a reader at index, taken one request at a time like
// the library's own: Press sets the status word and wakes the registered
// event; WithReader looks at (or changes) the reader's state.
void Press(int index, uint32_t status);
void WithReader(int index, const std::function<void(vreader::Reader &)> &visit);

// A window whose messages are handled on the thread that calls Pump or
// PumpFor, as a real window's are on its own thread. A send from that
// same thread calls the handler directly.
class Window {
  public:
    using Handler = std::function<void(uint32_t message, uintptr_t wParam, intptr_t lParam)>;
    explicit Window(Handler handler);
    ~Window();
    // Handles sent messages until milliseconds have passed.
    void PumpFor(int milliseconds);
    // Handles sent messages until predicate() holds or the time is up;
    // true when it held.
    bool PumpUntil(const std::function<bool()> &predicate, int milliseconds);
    // Makes the calling thread the window's thread.
    void Adopt();
    void *Native() { return this; }

    struct State;
    State *state_;
};

// A grey surface standing in for a device context: 0x00RRGGBB pixels.
// Source rows are read as a device-independent bitmap lays them out:
// each row starts on a 4-byte boundary.
struct Surface {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    int stretchMode = 0;
    int draws = 0;
    // The latest draw as it was asked for: header and colour table bytes,
    // destination and source rectangles (x, y, width, height).
    std::vector<uint8_t> info;
    int dest[4] = {0, 0, 0, 0};
    int source[4] = {0, 0, 0, 0};
    const void *bits = nullptr;
    uint32_t At(int x, int y) const { return pixels[y * width + x]; }
};
// A surface handle usable as a device context.
void *SurfaceContext(Surface *surface);

}  // namespace host
}  // namespace kx

#endif
