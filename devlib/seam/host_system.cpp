// host_system.cpp - the seam's host backend: the system, in process.
#include "host_system.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace kx {
namespace host {
namespace {

// Auto-reset event shared by every handle opened on its name.
struct EventCore {
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled = false;
};

struct ThreadCore {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
};

enum class Kind { Device, Event, Thread, Surface };

struct Object {
    explicit Object(Kind k) : kind(k) {}
    Kind kind;
    int index = -1;                       // Device
    std::shared_ptr<EventCore> event;     // Event
    std::string name;                     // Event
    std::shared_ptr<ThreadCore> thread;   // Thread
    host::Surface *surface = nullptr;     // Surface
};

struct Attached {
    vreader::Reader *reader;
    std::shared_ptr<std::mutex> lock;     // one request at a time, as on a synchronous handle
};

struct World {
    std::mutex mutex;
    std::map<int, Attached> readers;
    // Handle values stay below 2^32: the button event travels as 4 bytes.
    std::map<uintptr_t, Object> handles;
    uintptr_t nextHandle = 0x1000;
    std::map<std::string, std::weak_ptr<EventCore>> names;
    std::vector<std::string> debug;
    uint32_t allocationCountdown = 0;
    bool allocationAlways = false;
    int liveBlocks = 0;
    size_t lastAllocation = 0;
    std::map<void *, size_t> blockSizes;
    int dirtyReleases = 0;
    bool failEvents = false;
    uint32_t eventsBeforeFailure = 0;
    bool failThreads = false;
    bool holdThreads = false;
    std::condition_variable holdChanged;
    int invalidUses = 0;
    int timedOutWaits = 0;
    int runningThreads = 0;
    uint32_t inflateReplies = 0;
};

World &TheWorld() {
    static World *world = new World;  // outlives detached threads at exit
    return *world;
}

Handle NewHandle(Object object) {
    World &w = TheWorld();
    uintptr_t value = w.nextHandle;
    w.nextHandle += 4;
    w.handles.emplace(value, std::move(object));
    return reinterpret_cast<Handle>(value);
}

Object *Find(Handle handle) {
    auto it = TheWorld().handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == TheWorld().handles.end() ? nullptr : &it->second;
}

void SignalCore(EventCore &core) {
    std::lock_guard<std::mutex> lock(core.mutex);
    core.signalled = true;
    core.changed.notify_all();
}

// How a reader wakes the event whose handle value the library registered.
void SignalRegistered(void *, uint32_t eventValue) {
    std::shared_ptr<EventCore> core;
    {
        std::lock_guard<std::mutex> lock(TheWorld().mutex);
        Object *o = Find(reinterpret_cast<Handle>(static_cast<uintptr_t>(eventValue)));
        if (o && o->kind == Kind::Event) core = o->event;
    }
    if (core) SignalCore(*core);
}

bool ParseIndex(const char *path, int *index) {
    size_t prefix = strlen(kDevicePathPrefix);
    if (strncmp(path, kDevicePathPrefix, prefix) != 0) return false;
    char *end = nullptr;
    long value = strtol(path + prefix, &end, 10);
    if (end == path + prefix || *end) return false;
    *index = static_cast<int>(value);
    return true;
}

Handle OpenDevice(const char *path) {
    World &w = TheWorld();
    std::lock_guard<std::mutex> lock(w.mutex);
    int index = 0;
    if (!ParseIndex(path, &index) || !w.readers.count(index)) return NoDevice();
    Object o(Kind::Device);
    o.index = index;
    return NewHandle(o);
}

bool CloseOne(Handle handle) {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    if (TheWorld().handles.erase(reinterpret_cast<uintptr_t>(handle)) == 1) return true;
    ++TheWorld().invalidUses;
    return false;
}

bool DeviceOf(Handle device, Attached *attached) {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    Object *o = Find(device);
    if (!o || o->kind != Kind::Device) return false;
    auto it = TheWorld().readers.find(o->index);
    if (it == TheWorld().readers.end()) return false;
    *attached = it->second;
    return true;
}

bool Control(Handle device, uint32_t code, const void *input, uint32_t inputSize,
             void *output, uint32_t outputSize, uint32_t *returned) {
    Attached a;
    *returned = 0;
    if (!DeviceOf(device, &a)) return false;
    // Buffered I/O: the driver sees copies, never the caller's buffers.
    std::vector<uint8_t> in(static_cast<const uint8_t *>(input),
                            static_cast<const uint8_t *>(input) + (input ? inputSize : 0));
    std::vector<uint8_t> out(outputSize);
    bool ok;
    {
        std::lock_guard<std::mutex> lock(*a.lock);
        ok = a.reader->Control(code, in.data(), inputSize, out.data(), outputSize, returned);
    }
    if (ok && output && outputSize) memcpy(output, out.data(), *returned < outputSize ? *returned : outputSize);
    if (ok) {
        std::lock_guard<std::mutex> lock(TheWorld().mutex);
        *returned += TheWorld().inflateReplies;
    }
    return ok;
}

bool Read(Handle device, void *buffer, uint32_t size, uint32_t *got) {
    Attached a;
    *got = 0;
    if (!DeviceOf(device, &a)) return false;
    std::vector<uint8_t> staging(size);
    bool ok;
    {
        std::lock_guard<std::mutex> lock(*a.lock);
        ok = a.reader->Read(staging.data(), size, got);
    }
    if (ok) memcpy(buffer, staging.data(), *got < size ? *got : size);
    return ok;
}

void DebugOutput(const char *text) {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    TheWorld().debug.emplace_back(text);
}

void *Allocate(size_t size) {
    World &w = TheWorld();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.lastAllocation = size;
    if (w.allocationCountdown) {
        if (w.allocationCountdown == 1) {
            if (!w.allocationAlways) w.allocationCountdown = 0;
            return nullptr;
        }
        --w.allocationCountdown;
    }
    // Fresh blocks hold junk, as heap blocks do.
    void *block = malloc(size ? size : 1);
    if (block) {
        memset(block, 0xA5, size);
        ++w.liveBlocks;
        w.blockSizes[block] = size;
    }
    return block;
}

void Release(void *block) {
    if (!block) return;
    World &w = TheWorld();
    std::lock_guard<std::mutex> lock(w.mutex);
    --w.liveBlocks;
    auto it = w.blockSizes.find(block);
    if (it != w.blockSizes.end()) {
        const uint8_t *bytes = static_cast<const uint8_t *>(block);
        for (size_t i = 0; i < it->second; ++i)
            if (bytes[i]) {
                ++w.dirtyReleases;
                break;
            }
        w.blockSizes.erase(it);
    }
    free(block);
}

Handle CreateNamedEvent(const char *name) {
    World &w = TheWorld();
    std::lock_guard<std::mutex> lock(w.mutex);
    if (w.failEvents) {
        if (w.eventsBeforeFailure == 0) return nullptr;
        --w.eventsBeforeFailure;
    }
    std::shared_ptr<EventCore> core;
    if (name) core = w.names[name].lock();
    if (!core) {
        core = std::make_shared<EventCore>();
        if (name) w.names[name] = core;
    }
    Object o(Kind::Event);
    o.event = core;
    if (name) o.name = name;
    return NewHandle(o);
}

std::shared_ptr<EventCore> EventOf(Handle handle) {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    Object *o = Find(handle);
    if (!o) ++TheWorld().invalidUses;
    return o && o->kind == Kind::Event ? o->event : nullptr;
}

void Signal(Handle event) {
    if (auto core = EventOf(event)) SignalCore(*core);
}

bool Wait(Handle object, uint32_t timeoutMs) {
    std::shared_ptr<EventCore> event;
    std::shared_ptr<ThreadCore> thread;
    {
        std::lock_guard<std::mutex> lock(TheWorld().mutex);
        Object *o = Find(object);
        if (!o) {
            ++TheWorld().invalidUses;
            return false;
        }
        event = o->event;
        thread = o->thread;
    }
    auto timedOut = [timeoutMs] {
        if (timeoutMs == 0) return false;  // a poll, not a wait
        std::lock_guard<std::mutex> lock(TheWorld().mutex);
        ++TheWorld().timedOutWaits;
        return false;
    };
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (event) {
        std::unique_lock<std::mutex> lock(event->mutex);
        auto ready = [&] { return event->signalled; };
        if (timeoutMs == kWaitForever)
            event->changed.wait(lock, ready);
        else if (!event->changed.wait_until(lock, deadline, ready))
            return timedOut();
        event->signalled = false;  // auto-reset: one waiter per signal
        return true;
    }
    if (thread) {
        std::unique_lock<std::mutex> lock(thread->mutex);
        auto ready = [&] { return thread->done; };
        if (timeoutMs == kWaitForever) {
            thread->ended.wait(lock, ready);
            return true;
        }
        return thread->ended.wait_until(lock, deadline, ready) || timedOut();
    }
    return false;
}

Handle StartThread(ThreadEntry entry, void *argument) {
    World &w = TheWorld();
    auto core = std::make_shared<ThreadCore>();
    {
        std::lock_guard<std::mutex> lock(w.mutex);
        if (w.failThreads) return nullptr;
        ++w.runningThreads;
    }
    std::thread([entry, argument, core] {
        {
            World &world = TheWorld();
            std::unique_lock<std::mutex> lock(world.mutex);
            world.holdChanged.wait(lock, [&] { return !world.holdThreads; });
        }
        entry(argument);
        {
            std::lock_guard<std::mutex> lock(TheWorld().mutex);
            --TheWorld().runningThreads;
        }
        std::lock_guard<std::mutex> lock(core->mutex);
        core->done = true;
        core->ended.notify_all();
    }).detach();
    std::lock_guard<std::mutex> lock(w.mutex);
    Object o(Kind::Thread);
    o.thread = core;
    return NewHandle(o);
}

struct Sent {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
    bool done = false;
};

void Send(void *window, uint32_t message, uintptr_t wParam, intptr_t lParam);

void StretchMode(void *dc, int mode) {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    Object *o = Find(dc);
    if (o && o->kind == Kind::Surface) o->surface->stretchMode = mode;
}

void StretchBits(void *dc, int xDest, int yDest, int destWidth, int destHeight,
                 int xSrc, int ySrc, int srcWidth, int srcHeight, const void *bits,
                 const void *info);

const SystemOps kHost = {
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

// --- windows ---

struct Window::State {
    Handler handler;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Sent *> queue;
    std::thread::id owner = std::this_thread::get_id();
};

Window::Window(Handler handler) : state_(new State) { state_->handler = std::move(handler); }
Window::~Window() { delete state_; }
void Window::Adopt() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->owner = std::this_thread::get_id();
}

bool Window::PumpUntil(const std::function<bool()> &predicate, int milliseconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock<std::mutex> lock(state_->mutex);
    for (;;) {
        while (!state_->queue.empty()) {
            Sent *s = state_->queue.front();
            state_->queue.pop_front();
            lock.unlock();
            state_->handler(s->message, s->wParam, s->lParam);
            lock.lock();
            s->done = true;
            state_->changed.notify_all();
        }
        lock.unlock();
        bool held = predicate && predicate();
        lock.lock();
        if (held) return true;
        if (state_->changed.wait_until(lock, deadline) == std::cv_status::timeout &&
            state_->queue.empty())
            return predicate ? predicate() : false;
    }
}

void Window::PumpFor(int milliseconds) { PumpUntil(nullptr, milliseconds); }

namespace {

void Send(void *window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (!window) {
        std::lock_guard<std::mutex> lock(TheWorld().mutex);
        ++TheWorld().invalidUses;
        return;
    }
    auto *w = static_cast<Window *>(window);
    Window::State *st = w->state_;
    std::unique_lock<std::mutex> lock(st->mutex);
    if (std::this_thread::get_id() == st->owner) {
        lock.unlock();
        st->handler(message, wParam, lParam);
        return;
    }
    Sent sent{message, wParam, lParam};
    st->queue.push_back(&sent);
    st->changed.notify_all();
    st->changed.wait(lock, [&] { return sent.done; });
}

// COLORONCOLOR-like stretch: each destination pixel takes the nearest
// source pixel; nothing is blended.
void StretchBits(void *dc, int xDest, int yDest, int destWidth, int destHeight,
                 int xSrc, int ySrc, int srcWidth, int srcHeight, const void *bits,
                 const void *info) {
    host::Surface *surface;
    {
        std::lock_guard<std::mutex> lock(TheWorld().mutex);
        Object *o = Find(dc);
        if (!o || o->kind != Kind::Surface) return;
        surface = o->surface;
    }
    const uint8_t *header = static_cast<const uint8_t *>(info);
    int32_t width, height;
    uint16_t bitCount;
    memcpy(&width, header + 4, 4);
    memcpy(&height, header + 8, 4);
    memcpy(&bitCount, header + 14, 2);
    const uint8_t *colours = header + 40;
    const uint8_t *pixels = static_cast<const uint8_t *>(bits);
    bool topDown = height < 0;
    int rows = topDown ? -height : height;
    ++surface->draws;
    surface->info.assign(header, header + 40 + 256 * 4);
    int dest[4] = {xDest, yDest, destWidth, destHeight};
    int source[4] = {xSrc, ySrc, srcWidth, srcHeight};
    memcpy(surface->dest, dest, sizeof dest);
    memcpy(surface->source, source, sizeof source);
    surface->bits = bits;
    if (bitCount != 8 || width <= 0) return;
    if (destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 || srcHeight <= 0) return;
    // Every row of a device-independent bitmap starts on a 4-byte boundary.
    const size_t stride = (static_cast<size_t>(width) + 3) & ~static_cast<size_t>(3);
    for (int dy = 0; dy < destHeight; ++dy) {
        int y = yDest + dy;
        if (y < 0 || y >= surface->height) continue;
        int sy = ySrc + static_cast<int>(static_cast<int64_t>(dy) * srcHeight / destHeight);
        int row = topDown ? sy : rows - 1 - sy;
        if (row < 0 || row >= rows) continue;
        for (int dx = 0; dx < destWidth; ++dx) {
            int x = xDest + dx;
            if (x < 0 || x >= surface->width) continue;
            int sx = xSrc + static_cast<int>(static_cast<int64_t>(dx) * srcWidth / destWidth);
            if (sx < 0 || sx >= width) continue;
            const uint8_t *c = colours + 4 * pixels[static_cast<size_t>(row) * stride + sx];
            surface->pixels[y * surface->width + x] = (c[2] << 16) | (c[1] << 8) | c[0];
        }
    }
}

}  // namespace

void *SurfaceContext(Surface *surface) {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    Object o(Kind::Surface);
    o.surface = surface;
    return NewHandle(o);
}

// --- control of the host world ---

void Attach(int index, vreader::Reader *reader) {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    reader->SetSignal(SignalRegistered, nullptr);
    TheWorld().readers[index] = Attached{reader, std::make_shared<std::mutex>()};
}

void Detach(int index) {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    TheWorld().readers.erase(index);
}

void Reset() {
    World &w = TheWorld();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.readers.clear();
    w.debug.clear();
    w.allocationCountdown = 0;
    w.allocationAlways = false;
    w.failEvents = false;
    w.eventsBeforeFailure = 0;
    w.failThreads = false;
    w.holdThreads = false;
    w.holdChanged.notify_all();
    w.inflateReplies = 0;
}

void InflateReplies(uint32_t extra) {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    TheWorld().inflateReplies = extra;
}

void FailAllocation(uint32_t nth, bool always) {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    TheWorld().allocationCountdown = nth;
    TheWorld().allocationAlways = always;
}

int LiveBlocks() {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    return TheWorld().liveBlocks;
}

int DirtyReleases() {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    return TheWorld().dirtyReleases;
}

void ClearDirtyReleases() {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    TheWorld().dirtyReleases = 0;
}

size_t LastAllocationSize() {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    return TheWorld().lastAllocation;
}

std::vector<std::string> DebugLines() {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    return TheWorld().debug;
}

int OpenHandles() {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    int n = 0;
    for (auto &h : TheWorld().handles)
        if (h.second.kind != Kind::Surface) ++n;
    return n;
}

int RunningThreads() {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    return TheWorld().runningThreads;
}

void FailEventCreation(bool fail, uint32_t after) {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    TheWorld().failEvents = fail;
    TheWorld().eventsBeforeFailure = fail ? after : 0;
}

void HoldThreads(bool hold) {
    World &w = TheWorld();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.holdThreads = hold;
    w.holdChanged.notify_all();
}

std::vector<std::string> OpenEventNames() {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    std::vector<std::string> names;
    for (auto &h : TheWorld().handles)
        if (h.second.kind == Kind::Event) names.push_back(h.second.name);
    return names;
}

int InvalidHandleUses() {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    return TheWorld().invalidUses;
}

int TimedOutWaits() {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    return TheWorld().timedOutWaits;
}

namespace {
bool Lookup(int index, Attached *attached) {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    auto it = TheWorld().readers.find(index);
    if (it == TheWorld().readers.end()) return false;
    *attached = it->second;
    return true;
}
}  // namespace

void Press(int index, uint32_t status) {
    Attached a;
    if (!Lookup(index, &a)) return;
    std::lock_guard<std::mutex> lock(*a.lock);
    a.reader->Press(status);
}

void WithReader(int index, const std::function<void(vreader::Reader &)> &visit) {
    Attached a;
    if (!Lookup(index, &a)) return;
    std::lock_guard<std::mutex> lock(*a.lock);
    visit(*a.reader);
}

void FailThreadCreation(bool fail) {
    std::lock_guard<std::mutex> lock(TheWorld().mutex);
    TheWorld().failThreads = fail;
}

}  // namespace host

const SystemOps &System() { return host::kHost; }

}  // namespace kx
