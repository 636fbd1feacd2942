#include "sph/step_worker.h"

#ifdef __linux__
#include <sched.h>
#endif

#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define FK_SPIN_PAUSE() _mm_pause()
#else
#define FK_SPIN_PAUSE() ((void)0)
#endif

namespace {

// The worker polls for a new round this long before it sleeps: the rounds
// of one step follow one another within microseconds, and a sleeping
// thread takes longer than that to wake. Not longer: on a busy machine the
// poll may hold the core the caller is waiting for (and the worker's
// polls yield for the same reason).
constexpr std::chrono::microseconds kSpinTime{50};
// The caller polls for a unit the worker holds this long before it sleeps.
constexpr std::chrono::microseconds kWaitSpinTime{20};

// Spins until done() or 'time' has passed; returns done(). 'yield': let
// another thread have the core between rounds of polling.
template <typename Done>
bool SpinUntil(Done done, std::chrono::microseconds time, bool yield) {
    const auto deadline = std::chrono::steady_clock::now() + time;
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (done()) return true;
            FK_SPIN_PAUSE();
        }
        if (std::chrono::steady_clock::now() >= deadline) return done();
        if (yield) std::this_thread::yield();
    }
}

std::uint32_t GenerationOf(std::uint64_t round) { return static_cast<std::uint32_t>(round >> 32); }
int FrontOf(std::uint64_t round) { return static_cast<int>((round >> 16) & 0xFFFF); }
int BackOf(std::uint64_t round) { return static_cast<int>(round & 0xFFFF); }

}  // namespace

TStepWorker::TStepWorker() : thread_([this] { Loop(); }) {}

TStepWorker::~TStepWorker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

int TStepWorker::AvailableCores() {
#ifdef __linux__  // the processors this process may run on; elsewhere the machine's count
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return count;
    }
#endif
    const unsigned hint = std::thread::hardware_concurrency();
    return hint > 0 ? static_cast<int>(hint) : 1;
}

std::uint64_t TStepWorker::Pack(std::uint32_t generation, int front, int back) {
    return (static_cast<std::uint64_t>(generation) << 32) | (static_cast<std::uint64_t>(front) << 16) |
           static_cast<std::uint64_t>(back);
}

void TStepWorker::Begin(TRun run, void* context, int count) {
    // The previous round has no units left, so the worker reads these only
    // together with the new round word (it claims nothing otherwise).
    run_.store(run, std::memory_order_relaxed);
    context_.store(context, std::memory_order_relaxed);
    ++generation_;
    round_.store(Pack(generation_, 0, count), std::memory_order_seq_cst);
    if (sleeping_.load(std::memory_order_seq_cst)) {
        { std::lock_guard<std::mutex> lock(mutex_); }
        wake_.notify_one();
    }
}

bool TStepWorker::ClaimFront(int unit) {
    std::uint64_t round = round_.load(std::memory_order_acquire);
    for (;;) {
        if (unit >= BackOf(round)) return false;  // the worker has it
        if (round_.compare_exchange_weak(round, Pack(generation_, unit + 1, BackOf(round)), std::memory_order_acq_rel,
                                         std::memory_order_acquire))
            return true;
    }
}

void TStepWorker::WaitDone(int unit) {
    // A unit is a few microseconds of work: spin for a while. Past that the
    // worker has most likely lost its core to another process; sleeping
    // then frees this core, where the scheduler can resume it at once.
    std::atomic<std::uint32_t>& done = done_[static_cast<std::size_t>(unit)];
    auto finished = [&] { return done.load(std::memory_order_seq_cst) == generation_; };
    if (!SpinUntil(finished, kWaitSpinTime, false)) {
        std::unique_lock<std::mutex> lock(mutex_);
        waiting_.store(true, std::memory_order_seq_cst);
        unitDone_.wait(lock, finished);
        waiting_.store(false, std::memory_order_relaxed);
    }
    if (failed_.load(std::memory_order_acquire)) {
        std::exception_ptr error;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            error = error_;
            error_ = nullptr;
            failed_.store(false, std::memory_order_relaxed);
        }
        if (error) std::rethrow_exception(error);
    }
}

void TStepWorker::Abandon(int count) {
    std::uint64_t round = round_.load(std::memory_order_acquire);
    while (!round_.compare_exchange_weak(round, Pack(generation_, BackOf(round), BackOf(round)),
                                         std::memory_order_acq_rel, std::memory_order_acquire)) {
    }
    for (int u = BackOf(round); u < count; ++u) {
        std::atomic<std::uint32_t>& done = done_[static_cast<std::size_t>(u)];
        while (done.load(std::memory_order_acquire) != generation_) std::this_thread::yield();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    error_ = nullptr;  // the caller rethrows its own exception (or the first one)
    failed_.store(false, std::memory_order_relaxed);
}

void TStepWorker::Help(std::uint32_t generation) {
    std::uint64_t round = round_.load(std::memory_order_acquire);
    for (;;) {
        if (GenerationOf(round) != generation || FrontOf(round) >= BackOf(round)) return;
        const TRun run = run_.load(std::memory_order_relaxed);
        void* context = context_.load(std::memory_order_relaxed);
        const int unit = BackOf(round) - 1;
        if (round_.compare_exchange_weak(round, Pack(generation, FrontOf(round), unit), std::memory_order_acq_rel,
                                         std::memory_order_acquire)) {
            // Claimed within this round, so run_ and context_ were this
            // round's, and the caller waits for the unit before it moves on.
            try {
                run(context, unit);
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!error_) error_ = std::current_exception();
                failed_.store(true, std::memory_order_release);
            }
            done_[static_cast<std::size_t>(unit)].store(generation, std::memory_order_seq_cst);
            if (waiting_.load(std::memory_order_seq_cst)) {
                { std::lock_guard<std::mutex> lock(mutex_); }
                unitDone_.notify_one();
            }
            round = round_.load(std::memory_order_acquire);
        }
    }
}

void TStepWorker::Loop() {
    std::uint32_t seen = 0;
    auto fresh = [&] { return GenerationOf(round_.load(std::memory_order_seq_cst)) != seen; };
    for (;;) {
        if (!SpinUntil(fresh, kSpinTime, true)) {
            std::unique_lock<std::mutex> lock(mutex_);
            sleeping_.store(true, std::memory_order_seq_cst);
            wake_.wait(lock, [&] { return stop_ || fresh(); });
            sleeping_.store(false, std::memory_order_relaxed);
            if (stop_) return;
        }
        seen = GenerationOf(round_.load(std::memory_order_acquire));
        Help(seen);
    }
}
