#include "sph/step_worker.h"

#include <sched.h>

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
// thread takes longer than that to wake.
constexpr std::chrono::microseconds kSpinTime{200};

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
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return count;
    }
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
        if (round_.compare_exchange_weak(round, Pack(generation_, unit + 1, BackOf(round)),
                                         std::memory_order_acq_rel, std::memory_order_acquire))
            return true;
    }
}

void TStepWorker::WaitDone(int unit) {
    // A unit is a few microseconds of work: spin, and let the worker have
    // the core should it share this one.
    for (int spins = 0; done_[static_cast<std::size_t>(unit)].load(std::memory_order_acquire) != generation_;
         ++spins) {
        FK_SPIN_PAUSE();
        if ((spins & 1023) == 1023) std::this_thread::yield();
    }
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
            run(context, unit);
            done_[static_cast<std::size_t>(unit)].store(generation, std::memory_order_release);
            round = round_.load(std::memory_order_acquire);
        }
    }
}

void TStepWorker::Loop() {
    std::uint32_t seen = 0;
    auto fresh = [&] { return GenerationOf(round_.load(std::memory_order_seq_cst)) != seen; };
    for (;;) {
        const auto deadline = std::chrono::steady_clock::now() + kSpinTime;
        bool ready = fresh();
        while (!ready && std::chrono::steady_clock::now() < deadline) {
            for (int i = 0; i < 64 && !ready; ++i) {
                FK_SPIN_PAUSE();
                ready = fresh();
            }
        }
        if (!ready) {
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
