#pragma once
// Internal to the sph library: the second thread of a step.
//
// One worker thread, started with the object and reused by every step. A
// step shares work with it in rounds of numbered units: the calling thread
// runs the units from the front, in order, and the worker takes them from
// the back, one at a time, until the two meet. A unit the worker has taken
// is waited for only when the caller reaches it, so a worker that is slow
// to wake (the cores are busy elsewhere) costs nothing but its help; with
// no help at all the caller simply runs every unit itself.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>

class TStepWorker {
public:
    // Most units in one round.
    static constexpr int MAX_UNITS = 256;

    // Starts the worker thread.
    TStepWorker();
    // Stops and joins it.
    ~TStepWorker();
    TStepWorker(const TStepWorker&) = delete;
    TStepWorker& operator=(const TStepWorker&) = delete;

    // Runs run(u) for every unit u in [0, count) (count <= MAX_UNITS), some
    // of them on the worker thread, and after(u) on the calling thread for
    // each unit in order once run(u) is done and its writes are visible.
    // run(u) for different units must touch disjoint data. An exception
    // from run or after, on either thread, ends the round (the worker
    // finishes the unit it is in and starts no other) and is rethrown here.
    template <typename Run, typename After>
    void Share(int count, Run& run, After&& after) {
        Begin(
            +[](void* r, int u) { (*static_cast<Run*>(r))(u); }, &run, count);
        try {
            for (int u = 0; u < count; ++u) {
                if (ClaimFront(u))
                    run(u);
                else
                    WaitDone(u);
                after(u);
            }
        } catch (...) {
            Abandon(count);
            throw;
        }
    }

    // Number of processors this process may run on (at least 1).
    static int AvailableCores();

private:
    using TRun = void (*)(void*, int);
    // The round's state in one word: generation, next front unit, end of
    // the units not yet taken from the back.
    static std::uint64_t Pack(std::uint32_t generation, int front, int back);

    void Begin(TRun run, void* context, int count);
    bool ClaimFront(int unit);
    // Waits for a unit the worker took; rethrows what it threw.
    void WaitDone(int unit);
    // Takes every unit not yet taken and waits for the worker's.
    void Abandon(int count);
    void Loop();
    void Help(std::uint32_t generation);

    std::atomic<std::uint64_t> round_{0};
    std::atomic<TRun> run_{nullptr};
    std::atomic<void*> context_{nullptr};
    // done_[u] holds the generation of the round in which the worker
    // finished unit u.
    std::array<std::atomic<std::uint32_t>, MAX_UNITS> done_{};
    std::uint32_t generation_ = 0;  // the caller's count of rounds

    std::mutex mutex_;
    std::condition_variable wake_;       // a round began (or stop)
    std::condition_variable unitDone_;   // the worker finished a unit
    std::atomic<bool> sleeping_{false};  // the worker sleeps on wake_
    std::atomic<bool> waiting_{false};   // the caller sleeps on unitDone_
    bool stop_ = false;                  // under mutex_
    std::exception_ptr error_;           // under mutex_: thrown by a unit on the worker
    std::atomic<bool> failed_{false};
    std::thread thread_;  // last: starts once the members above exist
};
