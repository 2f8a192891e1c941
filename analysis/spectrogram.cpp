#include "spectrogram.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

#include "fft.h"
#include "window_functions.h"
#include "worker_pool.h"

namespace vurma {

double FrequencyAxis::HzAt(double y) const {
    const double t = 1.0 - y / rows;
    if (!log) return maxHz * t;
    return minHz() * std::pow(maxHz / minHz(), t);
}

double FrequencyAxis::YOf(double hz) const {
    if (!log) return rows * (1.0 - hz / maxHz);
    return rows * (1.0 - std::log(hz / minHz()) / std::log(maxHz / minHz()));
}

SpectrogramPlan::SpectrogramPlan(const SpectrogramSettings& settings, int sampleRate,
                                 double firstFrame, double lastFrame, int columns, int rows)
    : exponent_(
          static_cast<unsigned>(g_nFftExp[std::clamp(settings.fftIndex, 0, kFftSizeCount - 1)])),
      columns_(std::max(columns, 0)),
      rows_(std::max(rows, 1)),
      first_(firstFrame),
      span_(columns > 0 ? std::max(lastFrame - firstFrame, 1e-9) / columns : 1.0) {
    const int N = fftSize();
    const WindowFunction w =
        g_pfnWindow[std::clamp(settings.windowIndex, 0, kOfferedWindowCount - 1)];
    window_.resize(N);
    for (int i = 0; i < N; ++i) window_[i] = w(i, N);

    axis_.log = settings.logFrequency;
    axis_.maxHz = sampleRate > 0 ? sampleRate / 2.0 : 1.0;
    axis_.rows = rows_;
    // Each row takes the bins in its band; a row narrower than a bin (low
    // rows of the log axis) takes the bin nearest its centre.
    const double binHz = 2 * axis_.maxHz / N;
    binLo_.resize(rows_);
    binHi_.resize(rows_);
    for (int r = 0; r < rows_; ++r) {
        int lo = static_cast<int>(std::ceil(axis_.HzAt(r + 1) / binHz));
        int hi = r == 0 ? N / 2 : static_cast<int>(std::ceil(axis_.HzAt(r) / binHz)) - 1;
        if (hi < lo) lo = hi = static_cast<int>(std::lround(axis_.HzAt(r + 0.5) / binHz));
        binLo_[r] = std::clamp(lo, 0, N / 2);
        binHi_[r] = std::clamp(hi, 0, N / 2);
    }
}

bool SpectrogramPlan::ComputeColumn(const SpectrogramSource& source, int c, Scratch& w, float* out,
                                    const std::atomic<bool>* cancel) const {
    const int N = fftSize();
    const std::uint32_t available = CompleteFrames(source.pcm);
    const double length =
        source.complete ? available : std::max<double>(source.totalFrames, available);
    const double a = first_ + c * span_;
    const double b = std::min(a + span_, length);
    if (a < 0 || a >= length || (length < N && source.complete)) {
        std::fill(out, out + rows_, std::numeric_limits<float>::quiet_NaN());
        return true;
    }
    if (length < N) return false;

    // Frames at most half an FFT apart, spread evenly over the column, so
    // that nothing between two frames escapes the max rule.
    const int hop = N / 2;
    const int frames = std::max(1, static_cast<int>(std::ceil((b - a) / hop)));
    const double spacing = (b - a) / frames;
    const double lastStart = length - N;
    auto startOf = [&](int k) {
        const double s = std::round(a + (k + 0.5) * spacing - N / 2.0);
        return static_cast<std::uint32_t>(std::clamp(s, 0.0, lastStart));
    };
    if (static_cast<std::uint64_t>(startOf(frames - 1)) + N > available) return false;

    w.frame.resize(N);
    w.maxDb.assign(N / 2 + 1, -std::numeric_limits<double>::infinity());
    w.db.resize(kSpectrumSlots);
    w.re.resize(kSpectrumSlots);
    w.im.resize(kSpectrumSlots);
    std::uint32_t previous = std::numeric_limits<std::uint32_t>::max();
    for (int k = 0; k < frames; ++k) {
        const std::uint32_t start = startOf(k);
        if (start == previous) continue;  // clamped at an end: same frame again
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) return false;
        previous = start;
        ConvertSamples(source.pcm, start, N, w.frame.data(), w.frame.data(), 0);
        for (int i = 0; i < N; ++i) w.frame[i] *= window_[i];
        ComputeSpectrum(exponent_, w.frame.data(), w.db.data(), w.re.data(), w.im.data());
        for (int i = 0; i <= N / 2; ++i) w.maxDb[i] = std::max(w.maxDb[i], w.db[i]);
    }
    for (int r = 0; r < rows_; ++r) {
        double level = w.maxDb[binLo_[r]];
        for (int k = binLo_[r] + 1; k <= binHi_[r]; ++k) level = std::max(level, w.maxDb[k]);
        out[r] = static_cast<float>(level);
    }
    return true;
}

SpectrogramLevels::SpectrogramLevels(int columns, int rows)
    : columns_(std::max(columns, 0)),
      rows_(std::max(rows, 1)),
      levels_(static_cast<std::size_t>(columns_) * rows_),
      done_(new std::atomic<std::uint8_t>[columns_ > 0 ? columns_ : 1]) {
    for (int c = 0; c < columns_; ++c) done_[c].store(0, std::memory_order_relaxed);
}

const float* SpectrogramLevels::Column(int c) const {
    if (c < 0 || c >= columns_ || done_[c].load(std::memory_order_acquire) == 0) return nullptr;
    return levels_.data() + static_cast<std::size_t>(c) * rows_;
}

bool SpectrogramLevels::AllDone() const {
    for (int c = 0; c < columns_; ++c)
        if (done_[c].load(std::memory_order_acquire) == 0) return false;
    return true;
}

bool SpectrogramLevels::ComputeColumn(const SpectrogramPlan& plan, const SpectrogramSource& source,
                                      int c, SpectrogramPlan::Scratch& scratch,
                                      const std::atomic<bool>* cancel) {
    if (c < 0 || c >= columns_) return false;
    if (done_[c].load(std::memory_order_relaxed) != 0) return true;
    float* out = levels_.data() + static_cast<std::size_t>(c) * rows_;
    if (!plan.ComputeColumn(source, c, scratch, out, cancel)) return false;
    done_[c].store(1, std::memory_order_release);
    return true;
}

int SpectrogramLevels::Compute(const SpectrogramPlan& plan, const SpectrogramSource& source,
                               int threads, const std::atomic<bool>* cancel) {
    constexpr int kChunk = 4;  // columns taken at a time
    std::atomic<int> next{0};
    std::atomic<int> missing{0};
    auto work = [&] {
        SpectrogramPlan::Scratch scratch;
        int stillMissing = 0;
        for (int begin = next.fetch_add(kChunk); begin < columns_; begin = next.fetch_add(kChunk)) {
            for (int c = begin; c < std::min(begin + kChunk, columns_); ++c) {
                if (done_[c].load(std::memory_order_relaxed) != 0) continue;
                if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
                    ++stillMissing;
                    continue;
                }
                if (!ComputeColumn(plan, source, c, scratch, nullptr)) ++stillMissing;
            }
        }
        missing.fetch_add(stillMissing);
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < std::min(threads, columns_); ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();
    return missing.load();
}

struct SpectrogramRun::State {
    WorkerPool* pool;
    std::shared_ptr<const SpectrogramPlan> plan;
    std::shared_ptr<SpectrogramLevels> levels;
    SpectrogramSource source;
    std::atomic<int> next{0};  // the next column not taken yet
    std::atomic<bool> cancel{false};
    std::atomic<int> chains{0};                     // chains with a task queued or running
    std::vector<SpectrogramPlan::Scratch> scratch;  // one per chain
    std::mutex mutex;
    std::condition_variable idle;
    int computing = 0;     // tasks between their start and their end (under mutex)
    bool stopped = false;  // under mutex
};

SpectrogramRun::SpectrogramRun(WorkerPool& pool, std::shared_ptr<const SpectrogramPlan> plan,
                               std::shared_ptr<SpectrogramLevels> levels,
                               const SpectrogramSource& source, int chains)
    : state_(std::make_shared<State>()) {
    chains = std::max(chains, 1);
    state_->pool = &pool;
    state_->plan = std::move(plan);
    state_->levels = std::move(levels);
    state_->source = source;
    state_->scratch.resize(static_cast<std::size_t>(chains));
    state_->chains.store(chains);
    for (int chain = 0; chain < chains; ++chain)
        pool.Post([state = state_, chain] { Step(state, chain); });
}

SpectrogramRun::~SpectrogramRun() { Stop(); }

void SpectrogramRun::Step(const std::shared_ptr<State>& state, int chain) {
    constexpr int kColumnsPerTask = 4;
    {
        std::lock_guard lock(state->mutex);
        if (state->stopped) {
            state->chains.fetch_sub(1, std::memory_order_acq_rel);
            return;
        }
        ++state->computing;
    }
    const int columns = state->levels->columns();
    bool more = true;
    for (int k = 0; k < kColumnsPerTask; ++k) {
        const int c = state->next.fetch_add(1, std::memory_order_relaxed);
        if (c >= columns || state->cancel.load(std::memory_order_relaxed)) {
            more = false;
            break;
        }
        state->levels->ComputeColumn(*state->plan, state->source, c, state->scratch[chain],
                                     &state->cancel);
    }
    {
        std::lock_guard lock(state->mutex);
        --state->computing;
        if (state->computing == 0) state->idle.notify_all();
        more = more && !state->stopped;
        if (!more) state->chains.fetch_sub(1, std::memory_order_acq_rel);
    }
    // Queued behind whatever else the pool has to do.
    if (more) state->pool->Post([state, chain] { Step(state, chain); });
}

void SpectrogramRun::Stop() {
    std::unique_lock lock(state_->mutex);
    state_->stopped = true;
    state_->cancel.store(true, std::memory_order_relaxed);
    state_->idle.wait(lock, [this] { return state_->computing == 0; });
}

bool SpectrogramRun::Busy() const { return state_->chains.load(std::memory_order_acquire) > 0; }

}  // namespace vurma
