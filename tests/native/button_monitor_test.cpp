// The button monitor over an in-process reader: the start and exit
// handshakes, one message per wake-up, merged notifications, the stop's
// 1000 ms bound, creation failures, and no handle, thread or block left
// behind. Runs under ThreadSanitizer as well (suite names ButtonMonitor*).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KX7300V20.h"
#include "reader_fixture.h"
#include "seam/host_system.h"

namespace {

using kx::NoDevice;
using Clock = std::chrono::steady_clock;
namespace host = kx::host;

struct Message {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
    bool operator==(const Message &o) const {
        return message == o.message && wParam == o.wParam && lParam == o.lParam;
    }
};

// Polls predicate until it holds; false after a generous time.
bool Eventually(const std::function<bool()> &predicate, int milliseconds = 10000) {
    auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (!predicate()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// What a window procedure saw.
class Inbox {
  public:
    void Add(uint32_t m, uintptr_t w, intptr_t l) {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back({m, w, l});
    }
    std::vector<Message> All() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    size_t Count() { return All().size(); }

  private:
    std::mutex mutex_;
    std::vector<Message> messages_;
};

// A window with a thread of its own that keeps handling messages. While
// held, its procedure does not return, as a busy application's would not.
class WindowThread {
  public:
    WindowThread()
        : window_([this](uint32_t m, uintptr_t w, intptr_t l) {
              inbox.Add(m, w, l);
              std::unique_lock<std::mutex> lock(mutex_);
              ++entered_;
              changed_.notify_all();
              changed_.wait(lock, [this] { return !held_; });
          }) {
        std::unique_lock<std::mutex> lock(mutex_);
        thread_ = std::thread([this] {
            window_.Adopt();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                adopted_ = true;
                changed_.notify_all();
            }
            while (!quit_.load()) window_.PumpFor(5);
        });
        changed_.wait(lock, [this] { return adopted_; });
    }
    ~WindowThread() {
        Release();
        quit_.store(true);
        thread_.join();
    }
    HWND Handle() { return static_cast<HWND>(window_.Native()); }
    void Hold() {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = true;
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = false;
        changed_.notify_all();
    }
    // Waits until the procedure has been entered n times in all.
    bool Entered(int n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return entered_ >= n; });
    }
    Inbox inbox;

  private:
    host::Window window_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool adopted_ = false;
    bool held_ = false;
    int entered_ = 0;
    std::atomic<bool> quit_{false};
};

class ButtonMonitor : public VirtualReaderTest {
  protected:
    void SetUp() override {
        VirtualReaderTest::SetUp();
        handles_ = host::OpenHandles();
        invalid_ = host::InvalidHandleUses();
    }
    void TearDown() override {
        NFP_StopButtonStatus(device_);  // in case a test left one running
        EXPECT_TRUE(Eventually([] { return host::RunningThreads() == 0; }));
        VirtualReaderTest::TearDown();
    }

    int Count(uint32_t code) {
        int n = 0;
        host::WithReader(0, [&](vreader::Reader &r) {
            for (uint32_t i = 0; i < r.LogCount(); ++i) n += r.LogAt(i).code == code;
        });
        return n;
    }
    void ClearLog() {
        host::WithReader(0, [](vreader::Reader &r) { r.ClearLog(); });
    }
    // The monitor registers its event after its start acknowledgement.
    bool Registered(int times = 1) {
        return Eventually([&] { return Count(kx::REQ_BUTTON_EVENT) >= times; });
    }
    Message Button(uint32_t status) {
        return {NFP_BUTTON_MESSAGE, status, reinterpret_cast<intptr_t>(device_)};
    }
    // Nothing of any monitor is left, and no closed handle was used.
    void ExpectAllReleased() {
        EXPECT_TRUE(Eventually([] { return host::RunningThreads() == 0; }));
        EXPECT_EQ(host::OpenHandles(), handles_);
        EXPECT_EQ(host::OpenEventNames(), std::vector<std::string>{});
        EXPECT_EQ(host::LiveBlocks(), 0);
        EXPECT_EQ(host::InvalidHandleUses(), invalid_);
    }

    int handles_ = 0;
    int invalid_ = 0;
};

TEST_F(ButtonMonitor, StartReturnsOnlyAfterTheMonitorAcknowledges) {
    WindowThread window;
    host::HoldThreads(true);  // the monitor exists but cannot run yet
    std::atomic<bool> returned{false};
    std::atomic<int> result{-1};
    std::thread starter([&] {
        result.store(NFP_StartButtonStatus(device_, window.Handle()));
        returned.store(true);
    });
    ASSERT_TRUE(Eventually([] { return host::RunningThreads() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned.load());
    host::HoldThreads(false);
    starter.join();
    EXPECT_EQ(result.load(), 0);

    // Both named events exist while it runs; it registers the second one.
    std::vector<std::string> names = host::OpenEventNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"KX7300Event1", "KX7300Event2"}));
    ASSERT_TRUE(Registered());
    host::WithReader(0, [](vreader::Reader &r) {
        const vreader::LogEntry &e = r.LogAt(0);
        EXPECT_EQ(e.code, kx::REQ_BUTTON_EVENT);
        EXPECT_EQ(e.inputSize, 4u);
        EXPECT_EQ(e.outputSize, 0u);
        uint32_t value = e.input[0] | (e.input[1] << 8) | (e.input[2] << 16) | (uint32_t(e.input[3]) << 24);
        EXPECT_EQ(value, r.ButtonEvent());
    });
    EXPECT_EQ(NFP_StopButtonStatus(device_), 0);
    ExpectAllReleased();
}

TEST_F(ButtonMonitor, EachWakeUpGivesOneMessage) {
    WindowThread window;
    EXPECT_EQ(NFP_StartButtonStatus(device_, window.Handle()), 0);
    ASSERT_TRUE(Registered());
    const uint32_t statuses[] = {0x00000001, 0x80000000, 0xDEADBEEF, 0};
    std::vector<Message> expected;
    for (uint32_t status : statuses) {
        host::Press(0, status);
        expected.push_back(Button(status));
        ASSERT_TRUE(Eventually([&] { return window.inbox.Count() == expected.size(); })) << status;
    }
    // Whoever signals the event of that name wakes the monitor, as the
    // driver does: the status stays the last one pressed.
    kx::Handle named = kx::System().createEvent("KX7300Event2");
    kx::System().setEvent(named);
    expected.push_back(Button(0));
    EXPECT_TRUE(Eventually([&] { return window.inbox.Count() == expected.size(); }));
    kx::System().closeHandle(named);

    EXPECT_EQ(NFP_StopButtonStatus(device_), 0);
    EXPECT_EQ(window.inbox.All(), expected);
    EXPECT_EQ(Count(kx::REQ_BUTTON_READ), 5);
    ExpectAllReleased();
}

TEST_F(ButtonMonitor, NullWindowStillReadsTheStatus) {
    EXPECT_EQ(NFP_StartButtonStatus(device_, nullptr), 0);
    ASSERT_TRUE(Registered());
    host::Press(0, 0x55);
    EXPECT_TRUE(Eventually([&] { return Count(kx::REQ_BUTTON_READ) == 1; }));
    host::Press(0, 0x66);
    EXPECT_TRUE(Eventually([&] { return Count(kx::REQ_BUTTON_READ) == 2; }));
    EXPECT_EQ(NFP_StopButtonStatus(device_), 0);
    ExpectAllReleased();  // includes: no message was sent to no window
}

TEST_F(ButtonMonitor, NotificationsDuringABusyMonitorMergeIntoOneWakeUp) {
    WindowThread window;
    NFP_StartButtonStatus(device_, window.Handle());
    ASSERT_TRUE(Registered());
    window.Hold();
    host::Press(0, 1);
    ASSERT_TRUE(window.Entered(1));  // the monitor now waits inside the send
    host::Press(0, 2);
    host::Press(0, 3);
    host::Press(0, 4);
    window.Release();
    ASSERT_TRUE(window.Entered(2));
    // Give a wrong third wake-up time to show itself before stopping.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(window.inbox.All(), (std::vector<Message>{Button(1), Button(4)}));
    EXPECT_EQ(Count(kx::REQ_BUTTON_READ), 2);
    NFP_StopButtonStatus(device_);
    ExpectAllReleased();
}

TEST_F(ButtonMonitor, StopReturnsAtTheAcknowledgement) {
    WindowThread window;
    NFP_StartButtonStatus(device_, window.Handle());
    ASSERT_TRUE(Registered());
    host::Press(0, 7);
    ASSERT_TRUE(Eventually([&] { return window.inbox.Count() == 1; }));
    ClearLog();
    int timedOut = host::TimedOutWaits();
    EXPECT_EQ(NFP_StopButtonStatus(device_), 0);
    EXPECT_EQ(host::TimedOutWaits(), timedOut);  // it did not wait out the 1000 ms
    // The stop goes out with no data; its wake-up reads no status.
    host::WithReader(0, [](vreader::Reader &r) {
        ASSERT_EQ(r.LogCount(), 1u);
        EXPECT_EQ(r.LogAt(0).code, kx::REQ_BUTTON_STOP);
        EXPECT_EQ(r.LogAt(0).inputSize, 0u);
        EXPECT_EQ(r.LogAt(0).outputSize, 0u);
    });
    ExpectAllReleased();
    host::Press(0, 8);  // nobody listens any more
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(window.inbox.Count(), 1u);
    EXPECT_EQ(Count(kx::REQ_BUTTON_READ), 0);
}

// The driver may never wake the monitor: its registration failed, or the
// stop names another handle. The stop wakes it itself and still returns at
// the acknowledgement.
TEST_F(ButtonMonitor, StopEndsAMonitorTheDriverNeverWakes) {
    HANDLE other = NFP_Open(0);
    struct Case {
        const char *name;
        bool failRegistration;
        HANDLE stopHandle;
    } cases[] = {
        {"registration failed", true, device_},
        {"stop on the handle -1", false, NoDevice()},
        {"stop on another handle", false, other},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ClearLog();
        host::WithReader(0, [&](vreader::Reader &r) {
            r.ClearFaults();
            if (c.failRegistration) r.AddFault(kx::REQ_BUTTON_EVENT, 0);
        });
        NFP_StartButtonStatus(device_, nullptr);
        ASSERT_TRUE(Registered());
        int timedOut = host::TimedOutWaits();
        EXPECT_EQ(NFP_StopButtonStatus(c.stopHandle), 0);
        EXPECT_EQ(host::TimedOutWaits(), timedOut);
        EXPECT_TRUE(Eventually([] { return host::RunningThreads() == 0; }));
        EXPECT_EQ(Count(kx::REQ_BUTTON_READ), 0);
    }
    NFP_Close(other);
    ExpectAllReleased();
}

// The window's own thread runs the stop while the monitor waits inside a
// send to that window: the stop gives up after 1000 ms. The monitor,
// released later, must neither signal the closed acknowledgement event nor
// disturb a monitor started in the meantime.
TEST_F(ButtonMonitor, StopOnTheWindowsThreadGivesUpAfterOneSecond) {
    Inbox mine;
    host::Window own([&](uint32_t m, uintptr_t w, intptr_t l) { mine.Add(m, w, l); });
    NFP_StartButtonStatus(device_, static_cast<HWND>(own.Native()));
    ASSERT_TRUE(Registered());
    host::Press(0, 9);
    ASSERT_TRUE(Eventually([&] { return Count(kx::REQ_BUTTON_READ) == 1; }));

    int timedOut = host::TimedOutWaits();
    auto begun = Clock::now();
    EXPECT_EQ(NFP_StopButtonStatus(device_), 0);
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun);
    EXPECT_GE(took.count(), 1000);
    EXPECT_EQ(host::TimedOutWaits(), timedOut + 1);
    EXPECT_EQ(host::RunningThreads(), 1);  // still inside the send

    // A new monitor, for another window, while the old one is stuck.
    WindowThread next;
    ClearLog();
    NFP_StartButtonStatus(device_, next.Handle());
    ASSERT_TRUE(Registered());
    host::Press(0, 5);
    ASSERT_TRUE(Eventually([&] { return next.inbox.Count() == 1; }));

    // Now the window's thread handles its message and the old monitor goes.
    ASSERT_TRUE(own.PumpUntil([&] { return mine.Count() == 1; }, 10000));
    ASSERT_TRUE(Eventually([] { return host::RunningThreads() == 1; }));
    host::Press(0, 6);
    ASSERT_TRUE(Eventually([&] { return next.inbox.Count() == 2; }));
    EXPECT_EQ(NFP_StopButtonStatus(device_), 0);
    EXPECT_EQ(host::TimedOutWaits(), timedOut + 1);

    own.PumpFor(50);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(mine.All(), std::vector<Message>{Button(9)});
    EXPECT_EQ(next.inbox.All(), (std::vector<Message>{Button(5), Button(6)}));
    ExpectAllReleased();
}

TEST_F(ButtonMonitor, SecondStartKeepsTheRunningMonitorAndStrayStopsDoNothing) {
    EXPECT_EQ(NFP_StopButtonStatus(device_), 0);  // none running
    EXPECT_EQ(Count(kx::REQ_BUTTON_STOP), 0);
    ExpectAllReleased();

    WindowThread first, second;
    NFP_StartButtonStatus(device_, first.Handle());
    ASSERT_TRUE(Registered());
    EXPECT_EQ(NFP_StartButtonStatus(device_, second.Handle()), 0);
    EXPECT_EQ(host::RunningThreads(), 1);
    host::Press(0, 3);
    ASSERT_TRUE(Eventually([&] { return first.inbox.Count() == 1; }));
    EXPECT_EQ(NFP_StopButtonStatus(device_), 0);
    EXPECT_EQ(NFP_StopButtonStatus(device_), 0);
    EXPECT_EQ(Count(kx::REQ_BUTTON_STOP), 1);
    EXPECT_EQ(second.inbox.Count(), 0u);
    EXPECT_EQ(Count(kx::REQ_BUTTON_EVENT), 1);
    ExpectAllReleased();
}

// A start that cannot make its events, its thread or its state block
// returns at once with no monitor; the next start works.
TEST_F(ButtonMonitor, CreationFailuresNeverLeaveAStartWaiting) {
    struct Case {
        const char *name;
        std::function<void()> inject;
    } cases[] = {
        {"acknowledgement event", [] { host::FailEventCreation(true); }},
        {"wake event", [] { host::FailEventCreation(true, 1); }},
        {"thread", [] { host::FailThreadCreation(true); }},
        {"state block", [] { host::FailAllocation(1); }},
    };
    WindowThread window;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ClearLog();
        c.inject();
        EXPECT_EQ(NFP_StartButtonStatus(device_, window.Handle()), 0);
        host::FailEventCreation(false);
        host::FailThreadCreation(false);
        host::FailAllocation(0);
        ExpectAllReleased();
        EXPECT_EQ(Count(kx::REQ_BUTTON_EVENT), 0);
        EXPECT_EQ(NFP_StopButtonStatus(device_), 0);
        EXPECT_EQ(Count(kx::REQ_BUTTON_STOP), 0);

        NFP_StartButtonStatus(device_, window.Handle());
        ASSERT_TRUE(Registered());
        NFP_StopButtonStatus(device_);
        ExpectAllReleased();
    }
    EXPECT_EQ(window.inbox.Count(), 0u);
}

TEST_F(ButtonMonitor, AThousandStartsAndStopsLeaveNothingBehind) {
    WindowThread window;
    int timedOut = host::TimedOutWaits();
    for (int cycle = 0; cycle < 1000; ++cycle) {
        ClearLog();
        NFP_StartButtonStatus(device_, window.Handle());
        host::Press(0, cycle);  // may come before the registration
        ASSERT_TRUE(Registered()) << cycle;
        size_t had = window.inbox.Count();
        host::Press(0, cycle + 1);
        if (cycle % 3 == 0) host::Press(0, cycle + 2);
        // Mostly the stop races the wake-up; now and then the message is
        // awaited, so the stop also meets a monitor that has just sent.
        if (cycle % 10 == 0) {
            ASSERT_TRUE(Eventually([&] { return window.inbox.Count() > had; })) << cycle;
        }
        NFP_StopButtonStatus(device_);
    }
    EXPECT_EQ(host::TimedOutWaits(), timedOut);
    ExpectAllReleased();
    std::vector<Message> seen = window.inbox.All();
    EXPECT_GE(seen.size(), 100u);
    for (const Message &m : seen) {
        ASSERT_EQ(m.message, NFP_BUTTON_MESSAGE);
        ASSERT_EQ(m.lParam, reinterpret_cast<intptr_t>(device_));
    }
}

}  // namespace
