#include "system/system_driver.h"

#include "runtime/errors.h"
#include "system/system_host.h"

#include <deque>
#include <mutex>
#include <thread>

int32_t modifierState = 0;

int32_t TSystemDriver::Poll() { throw TAbstractMethodError(); }
int32_t TSystemDriver::Wait() { throw TAbstractMethodError(); }
int32_t TSystemDriver::MoveMouse(int32_t, int32_t) { throw TAbstractMethodError(); }
int32_t TSystemDriver::SetMouseVisible(int32_t) { throw TAbstractMethodError(); }
int32_t TSystemDriver::Notify(const std::string&, int32_t) { throw TAbstractMethodError(); }
int32_t TSystemDriver::Confirm(const std::string&, int32_t) { throw TAbstractMethodError(); }
int32_t TSystemDriver::Proceed(const std::string&, int32_t) { throw TAbstractMethodError(); }
std::string TSystemDriver::RequestFile(const std::string&, const std::string&, int32_t, const std::string&) {
    throw TAbstractMethodError();
}
std::string TSystemDriver::RequestDir(const std::string&, const std::string&) { throw TAbstractMethodError(); }
int32_t TSystemDriver::OpenURL(const std::string&) { throw TAbstractMethodError(); }

namespace {

// The driver used until a platform installs its own: it has no windows, so
// pumping means running the main-thread calls.
class THeadlessSystemDriver : public TSystemDriver {
public:
    int32_t Poll() override {
        RunPendingMainThreadCalls();
        return 0;
    }
    int32_t Wait() override {
        if (!MainThreadCallsPending()) HostWakeWait();
        return Poll();
    }
    int32_t MoveMouse(int32_t, int32_t) override { return 0; }
    int32_t SetMouseVisible(int32_t) override { return 0; }
};

struct DriverState {
    std::shared_ptr<TSystemDriver> driver;
    std::thread::id mainThread;
    DriverState() : driver(std::make_shared<THeadlessSystemDriver>()), mainThread(std::this_thread::get_id()) {}
};

DriverState& Driver() {
    static DriverState state;
    return state;
}

// Plain flag: the pump runs on the main thread only.
bool pumpBusy = false;

struct PumpGuard {
    PumpGuard() { pumpBusy = true; }
    ~PumpGuard() { pumpBusy = false; }
};

// Calls posted from any thread, run by the main thread inside its pump. The
// host's wake-up signal wakes a main thread that sleeps in WaitForMessages.
struct MainThreadQueue {
    std::mutex lock;
    std::deque<std::function<void()>> calls;
    MainThreadQueue() { HostWakeInit(); }
};

MainThreadQueue& Queue() {
    static MainThreadQueue queue;
    return queue;
}

}  // namespace

std::shared_ptr<TSystemDriver> SystemDriver() { return Driver().driver; }

void SetSystemDriver(std::shared_ptr<TSystemDriver> driver) {
    Driver().driver = driver ? std::move(driver) : std::make_shared<THeadlessSystemDriver>();
}

bool IsMainThread() { return std::this_thread::get_id() == Driver().mainThread; }

int32_t CurrentMillis() { return HostMillis(); }

void SleepMillis(int32_t ms) {
    if (ms >= 0) HostSleep(ms);
}

void PumpMessages() {
    if (pumpBusy) return;
    auto driver = SystemDriver();  // held: a call may install another driver
    PumpGuard guard;
    driver->Poll();
}

void WaitForMessages() {
    if (pumpBusy) return;
    auto driver = SystemDriver();
    PumpGuard guard;
    driver->Wait();
}

bool PumpBusy() { return pumpBusy; }

void PlacePointer(int32_t x, int32_t y) { SystemDriver()->MoveMouse(x, y); }
void ShowPointer() { SystemDriver()->SetMouseVisible(1); }
void HidePointer() { SystemDriver()->SetMouseVisible(0); }

void RunOnMainThread(std::function<void()> call) {
    auto& queue = Queue();
    {
        std::lock_guard<std::mutex> hold(queue.lock);
        queue.calls.push_back(std::move(call));
    }
    HostWakeSignal();
}

void RunOnMainThread(TMainThreadFunc func, std::shared_ptr<void> argument, int32_t data) {
    if (!func) throw TRuntimeError(kUninitializedFunctionText);
    RunOnMainThread([func, argument = std::move(argument), data]() mutable {
        func(argument, data);
        argument.reset();  // released here, on the main thread
    });
}

void RunPendingMainThreadCalls() {
    auto& queue = Queue();
    HostWakeDrain();
    // Only the calls posted so far: a call that posts another does not keep
    // this pump busy forever.
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard<std::mutex> hold(queue.lock);
        batch.swap(queue.calls);
    }
    while (!batch.empty()) {
        auto call = std::move(batch.front());
        batch.pop_front();
        try {
            call();
        } catch (...) {
            // Put the rest back in front of anything posted meanwhile.
            std::lock_guard<std::mutex> hold(queue.lock);
            queue.calls.insert(queue.calls.begin(), std::make_move_iterator(batch.begin()),
                               std::make_move_iterator(batch.end()));
            if (!queue.calls.empty()) HostWakeSignal();
            throw;
        }
    }
}

int MainThreadWakeFd() {
    Queue();  // the wake-up signal is made with the queue
    return HostWakeFd();
}

bool MainThreadCallsPending() {
    auto& queue = Queue();
    std::lock_guard<std::mutex> hold(queue.lock);
    return !queue.calls.empty();
}
