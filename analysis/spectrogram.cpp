#include "spectrogram.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>

#include "cpu_dispatch.h"
#include "worker_pool.h"

#ifdef VURMA_HAVE_AVX2_PATH
#include <immintrin.h>
#endif

namespace vurma {

int DefaultSpectrogramFft(int sampleRate) {
    int n = 512;
    while (n < kSpectrogramMaxFft && 2.0 * n <= sampleRate / 20.0) n *= 2;
    return n;
}

bool IsSpectrogramFftSize(int size) {
    return size >= kSpectrogramMinFft && size <= kSpectrogramMaxFft && (size & (size - 1)) == 0;
}

int EffectiveSpectrogramFft(int chosen, int sampleRate, std::uint64_t frames) {
    int n = IsSpectrogramFftSize(chosen) ? chosen : DefaultSpectrogramFft(sampleRate);
    while (n > kSpectrogramMinFft && static_cast<std::uint64_t>(n) > frames) n /= 2;
    return static_cast<std::uint64_t>(n) <= frames ? n : 0;
}

int StripCount(const SpectrogramSettings& settings, int channels) {
    return settings.channels == ChannelView::kAll ? std::max(channels, 1) : 1;
}

std::string ChannelName(int channels, int channel) {
    if (channels == 2) return channel == 0 ? "L" : "R";
    return channels < 2 ? "" : std::to_string(channel + 1);
}

std::string StripName(const SpectrogramSettings& settings, int channels, int strip) {
    switch (settings.channels) {
        case ChannelView::kMix:
            return "";
        case ChannelView::kOne:
            return ChannelName(channels, settings.channel);
        case ChannelView::kAll:
            return ChannelName(channels, strip);
    }
    return "";
}

double FrequencyAxis::HzAt(double y) const {
    const double t = 1.0 - y / rows;
    if (!log) return maxHz * t;
    return minHz() * std::pow(maxHz / minHz(), t);
}

double FrequencyAxis::YOf(double hz) const {
    if (!log) return rows * (1.0 - hz / maxHz);
    return rows * (1.0 - std::log(hz / minHz()) / std::log(maxHz / minHz()));
}

SpectrogramPlan::SpectrogramPlan(const SpectrogramSettings& settings, int sampleRate, int channels,
                                 std::uint64_t recordingFrames, double firstFrame, double lastFrame,
                                 int columns, int stripRows)
    : settings_(settings),
      rate_(std::max(sampleRate, 1)),
      channels_(std::max(channels, 1)),
      strips_(StripCount(settings, channels_)),
      fft_(std::max(EffectiveSpectrogramFft(settings.fftSize, rate_, recordingFrames),
                    kSpectrogramMinFft)),
      tooShort_(EffectiveSpectrogramFft(settings.fftSize, rate_, recordingFrames) == 0),
      columns_(std::max(columns, 0)),
      rows_(std::max(stripRows, 1)),
      first_(firstFrame),
      span_(columns > 0 ? std::max(lastFrame - firstFrame, 1e-9) / columns : 1.0) {
    settings_.channel = std::clamp(settings_.channel, 0, channels_ - 1);
    const int N = fftSize();
    framesPerColumn_ = std::max(1, static_cast<int>(std::ceil(span_ / (N / 2) - 1e-9)));
    window_ = MakeWindow(settings.window, N);
    dbfsScale_ = DbfsPowerScale(window_);

    axis_.log = settings.logFrequency;
    axis_.maxHz = rate_ / 2.0;
    axis_.rows = rows_;
    // Each row takes the bins whose centres lie in its band; a row narrower
    // than a bin is interpolated between the two bin centres around its own.
    const double binHz = static_cast<double>(rate_) / N;
    binLo_.resize(rows_);
    binHi_.resize(rows_);
    frac_.assign(rows_, 0.0);
    for (int r = 0; r < rows_; ++r) {
        const int lo = static_cast<int>(std::ceil(axis_.HzAt(r + 1) / binHz - 1e-9));
        const int hi =
            r == 0 ? N / 2 : static_cast<int>(std::ceil(axis_.HzAt(r) / binHz - 1e-9)) - 1;
        if (hi >= lo) {
            binLo_[r] = std::clamp(lo, 0, N / 2);
            binHi_[r] = std::clamp(hi, 0, N / 2);
        } else {
            const double at = std::clamp(axis_.HzAt(r + 0.5) / binHz, 0.0, N / 2.0);
            const int k = std::min(static_cast<int>(at), N / 2 - 1);
            binLo_[r] = k;
            binHi_[r] = k - 1;
            frac_[r] = at - k;
        }
    }
}

bool SpectrogramPlan::PastEnd(int c, std::uint64_t length) const {
    return first_ + c * span_ >= static_cast<double>(length);
}

std::int64_t SpectrogramPlan::OpenStart(int c, int k) const {
    const double centre = first_ + c * span_ + (k + 0.5) * (span_ / framesPerColumn_);
    return std::max<std::int64_t>(0, std::llround(centre - fftSize() / 2.0));
}

std::int64_t SpectrogramPlan::FrameStart(int c, int k, std::uint64_t length) const {
    const int N = fftSize();
    if (PastEnd(c, length) || length < static_cast<std::uint64_t>(N)) return -1;
    const double centre = first_ + c * span_ + (k + 0.5) * (span_ / framesPerColumn_);
    if (k > 0 && centre >= static_cast<double>(length)) return -1;
    return std::min<std::int64_t>(OpenStart(c, k), static_cast<std::int64_t>(length) - N);
}

void SpectrogramPlan::ResetColumn(Column& column) const {
    column.power.assign(static_cast<std::size_t>(strips_) * (fftSize() / 2 + 1), 0.0);
    column.frames = 0;
}

namespace {

void MaxInto(double* most, const double* add, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) most[k] = std::max(most[k], add[k]);
}

#ifdef VURMA_HAVE_AVX2_PATH
__attribute__((target("avx2"))) void MaxIntoAvx2(double* most, const double* add, std::size_t n) {
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4)
        _mm256_storeu_pd(most + k,
                         _mm256_max_pd(_mm256_loadu_pd(most + k), _mm256_loadu_pd(add + k)));
    MaxInto(most + k, add + k, n - k);
}
#endif

// most[k] = max(most[k], add[k]) for k < n.
void KeepHighest(double* most, const double* add, std::size_t n) {
#ifdef VURMA_HAVE_AVX2_PATH
    if (UseAvx2()) {
        MaxIntoAvx2(most, add, n);
        return;
    }
#endif
    MaxInto(most, add, n);
}

}  // namespace

void SpectrogramPlan::AddFrame(const double* samples, std::size_t stride, Scratch& scratch,
                               Column& column) const {
    const int bins = fftSize() / 2 + 1;
    scratch.power.resize(bins);
    for (int s = 0; s < strips_; ++s) {
        fft_.Power(samples + s * stride, nullptr, scratch.power.data(), window_.data());
        KeepHighest(column.power.data() + static_cast<std::size_t>(s) * bins, scratch.power.data(),
                    bins);
    }
    ++column.frames;
}

void SpectrogramPlan::FinishColumn(const Column& column, float* out) const {
    if (column.frames == 0) {
        std::fill(out, out + levelsPerColumn(), std::numeric_limits<float>::quiet_NaN());
        return;
    }
    const int bins = fftSize() / 2 + 1;
    for (int s = 0; s < strips_; ++s) {
        const double* power = column.power.data() + static_cast<std::size_t>(s) * bins;
        float* rows = out + static_cast<std::size_t>(s) * rows_;
        for (int r = 0; r < rows_; ++r) {
            if (binHi_[r] >= binLo_[r]) {
                const double most = *std::max_element(power + binLo_[r], power + binHi_[r] + 1);
                rows[r] = static_cast<float>(PowerToDbfs(most, dbfsScale_, kSilenceDb));
            } else {
                const int k = binLo_[r];
                const double a = PowerToDbfs(power[k], dbfsScale_, kSilenceDb);
                const double b = PowerToDbfs(power[k + 1], dbfsScale_, kSilenceDb);
                rows[r] = static_cast<float>(a + frac_[r] * (b - a));
            }
        }
    }
}

namespace {

template <typename Read>
void ConvertWith(const SpectrogramPlan& plan, const std::uint8_t* data, int bytes, double scale,
                 std::size_t frames, double* out, std::size_t stride, Read read) {
    const int channels = plan.channels();
    const std::size_t frameBytes = static_cast<std::size_t>(bytes) * channels;
    switch (plan.settings().channels) {
        case ChannelView::kMix: {
            const double k = scale / channels;
            for (std::size_t i = 0; i < frames; ++i) {
                const std::uint8_t* f = data + i * frameBytes;
                std::int64_t sum = 0;
                for (int c = 0; c < channels; ++c) sum += read(f + c * bytes);
                out[i] = static_cast<double>(sum) * k;
            }
            break;
        }
        case ChannelView::kOne: {
            const std::uint8_t* f = data + plan.settings().channel * bytes;
            for (std::size_t i = 0; i < frames; ++i) out[i] = read(f + i * frameBytes) * scale;
            break;
        }
        case ChannelView::kAll:
            for (std::size_t i = 0; i < frames; ++i) {
                const std::uint8_t* f = data + i * frameBytes;
                for (int c = 0; c < channels; ++c)
                    out[c * stride + i] = read(f + c * bytes) * scale;
            }
            break;
    }
}

#ifdef VURMA_HAVE_AVX2_PATH
// The common 16-bit mono and stereo cases four frames at a time, with the
// scalar loop's arithmetic (an exact integer sum, then one product). Returns
// the frames done.
__attribute__((target("avx2"))) std::size_t Convert16Avx2(const SpectrogramPlan& plan,
                                                          const std::uint8_t* data,
                                                          std::size_t frames, double* out,
                                                          std::size_t stride) {
    const int channels = plan.channels();
    const ChannelView view = plan.settings().channels;
    const double scale = 1.0 / 32768;
    std::size_t i = 0;
    if (channels == 1) {
        const __m256d k = _mm256_set1_pd(view == ChannelView::kMix ? scale / 1 : scale);
        for (; i + 4 <= frames; i += 4) {
            const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(data + 2 * i));
            _mm256_storeu_pd(out + i, _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_cvtepi16_epi32(v)), k));
        }
    } else if (channels == 2) {
        const __m256d half = _mm256_set1_pd(scale / 2);
        const __m256d k = _mm256_set1_pd(scale);
        for (; i + 4 <= frames; i += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 4 * i));
            const __m128i left = _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
            const __m128i right = _mm_srai_epi32(v, 16);
            switch (view) {
                case ChannelView::kMix:
                    _mm256_storeu_pd(
                        out + i,
                        _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_add_epi32(left, right)), half));
                    break;
                case ChannelView::kOne:
                    _mm256_storeu_pd(
                        out + i,
                        _mm256_mul_pd(
                            _mm256_cvtepi32_pd(plan.settings().channel == 0 ? left : right), k));
                    break;
                case ChannelView::kAll:
                    _mm256_storeu_pd(out + i, _mm256_mul_pd(_mm256_cvtepi32_pd(left), k));
                    _mm256_storeu_pd(out + stride + i, _mm256_mul_pd(_mm256_cvtepi32_pd(right), k));
                    break;
            }
        }
    }
    return i;
}
#endif

}  // namespace

void ConvertStrips(const SpectrogramPlan& plan, const std::uint8_t* data, int bitsPerSample,
                   std::size_t frames, double* out, std::size_t stride) {
#ifdef VURMA_HAVE_AVX2_PATH
    if (bitsPerSample == 16 && plan.channels() <= 2 && UseAvx2()) {
        const std::size_t done = Convert16Avx2(plan, data, frames, out, stride);
        data += done * 2 * plan.channels();
        out += done;
        frames -= done;
    }
#endif
    switch (bitsPerSample) {
        case 8:
            ConvertWith(plan, data, 1, 1.0 / 128, frames, out, stride,
                        [](const std::uint8_t* p) { return static_cast<std::int32_t>(*p) - 128; });
            break;
        case 16:
            ConvertWith(plan, data, 2, 1.0 / 32768, frames, out, stride, [](const std::uint8_t* p) {
                std::int16_t v;
                std::memcpy(&v, p, 2);
                return static_cast<std::int32_t>(v);
            });
            break;
        case 24:
            ConvertWith(plan, data, 3, 1.0 / 8388608, frames, out, stride,
                        [](const std::uint8_t* p) {
                            const std::uint32_t u = p[0] | (p[1] << 8) | (p[2] << 16);
                            return static_cast<std::int32_t>(u << 8) >> 8;
                        });
            break;
        case 32:
            ConvertWith(plan, data, 4, 1.0 / 2147483648.0, frames, out, stride,
                        [](const std::uint8_t* p) {
                            std::int32_t v;
                            std::memcpy(&v, p, 4);
                            return v;
                        });
            break;
        default:
            for (int s = 0; s < plan.strips(); ++s) std::fill_n(out + s * stride, frames, 0.0);
            break;
    }
}

bool SpectrogramPlan::ComputeColumn(const SpectrogramSource& source, int c, Scratch& scratch,
                                    float* out, const std::atomic<bool>* cancel) const {
    const int N = fftSize();
    const std::uint32_t available = CompleteFrames(source.pcm);
    const std::uint64_t length =
        source.complete ? available : std::max<std::uint64_t>(source.totalFrames, available);
    Column column;
    ResetColumn(column);
    if (tooShort_ || (source.complete && available < static_cast<std::uint32_t>(N)) ||
        PastEnd(c, length) || c < 0) {
        FinishColumn(column, out);  // no frames: NaN
        return true;
    }
    if (available < static_cast<std::uint32_t>(N)) return false;
    // The last frame taken decides whether the column can be computed yet.
    for (int k = framesPerColumn_ - 1; k >= 0; --k) {
        const std::int64_t start = FrameStart(c, k, length);
        if (start < 0) continue;
        if (static_cast<std::uint64_t>(start) + N > available) return false;
        break;
    }
    const std::size_t frameBytes =
        static_cast<std::size_t>(source.pcm.channels) * (source.pcm.bitsPerSample / 8);
    scratch.samples.resize(static_cast<std::size_t>(strips_) * N);
    std::int64_t previous = -1;
    for (int k = 0; k < framesPerColumn_; ++k) {
        const std::int64_t start = FrameStart(c, k, length);
        if (start < 0 || start == previous) continue;  // the same frame again adds nothing
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) return false;
        previous = start;
        ConvertStrips(*this, source.pcm.data + static_cast<std::size_t>(start) * frameBytes,
                      source.pcm.bitsPerSample, N, scratch.samples.data(), N);
        AddFrame(scratch.samples.data(), N, scratch, column);
    }
    FinishColumn(column, out);
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

bool SpectrogramLevels::ComputeColumn(const SpectrogramPlan& plan, const SpectrogramSource& source,
                                      int c, SpectrogramPlan::Scratch& scratch,
                                      const std::atomic<bool>* cancel) {
    if (c < 0 || c >= columns_) return false;
    if (done_[c].load(std::memory_order_relaxed) != 0) return true;
    if (!plan.ComputeColumn(source, c, scratch, ColumnStorage(c), cancel)) return false;
    MarkDone(c);
    return true;
}

float* SpectrogramLevels::ColumnStorage(int c) {
    return levels_.data() + static_cast<std::size_t>(c) * rows_;
}

void SpectrogramLevels::MarkDone(int c) { done_[c].store(1, std::memory_order_release); }

bool SpectrogramLevels::AllDone() const {
    for (int c = 0; c < columns_; ++c)
        if (done_[c].load(std::memory_order_acquire) == 0) return false;
    return true;
}

int SpectrogramLevels::Compute(const SpectrogramPlan& plan, const SpectrogramSource& source,
                               int threads, const std::atomic<bool>* cancel) {
    constexpr int kChunk = 4;  // columns taken at a time
    std::atomic<int> missing{0};
    const auto chunk = [&](int index) {
        SpectrogramPlan::Scratch scratch;
        int stillMissing = 0;
        for (int c = index * kChunk; c < std::min((index + 1) * kChunk, columns_); ++c) {
            if (done_[c].load(std::memory_order_relaxed) != 0) continue;
            if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
                ++stillMissing;
                continue;
            }
            if (!ComputeColumn(plan, source, c, scratch, nullptr)) ++stillMissing;
        }
        missing.fetch_add(stillMissing);
    };
    const int chunks = (columns_ + kChunk - 1) / kChunk;
    if (threads > 1) {
        WorkerPool::Shared().ParallelFor(chunks, chunk);
    } else {
        for (int i = 0; i < chunks; ++i) chunk(i);
    }
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

// ---- Streaming

namespace {

// Frames per job: about 128k transform points, so that a job is worth its
// hand-over; at most this many columns, so that its partial maxima stay small.
int JobFrames(int fftSize) { return std::max(4, 131072 / fftSize); }
constexpr int kJobColumns = 8;

}  // namespace

struct SpectrogramStream::Job {
    struct Frame {
        int column;
        std::int64_t start;
    };
    // The stream's block of samples: frame `from` at index 0, strip s at
    // s * stride.
    std::shared_ptr<const double[]> samples;
    std::uint64_t from = 0;
    std::size_t stride = 0;
    std::vector<Frame> frames;
    int firstColumn = 0;
    std::vector<std::unique_ptr<SpectrogramPlan::Column>> partial;
    int completeBefore = 0;  // columns below this are whole once merged
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
};

SpectrogramStream::SpectrogramStream(const SpectrogramPlan& plan, int bitsPerSample,
                                     WorkerPool& pool)
    : plan_(plan),
      bits_(bitsPerSample),
      pool_(pool),
      levels_(plan.columns(), plan.levelsPerColumn()) {}

SpectrogramStream::~SpectrogramStream() {
    // Jobs hold pointers to this stream: wait for those handed out.
    for (const std::unique_ptr<Job>& job : inFlight_) {
        std::unique_lock lock(job->mutex);
        job->cv.wait(lock, [&] { return job->done; });
    }
}

void SpectrogramStream::Push(const std::uint8_t* data, std::size_t frames) {
    if (frames == 0) return;
    const int strips = plan_.strips();
    // A block that jobs read, or that is full, is replaced by a fresh one
    // that starts with the samples still needed.
    const std::size_t kept = heldFrames_ - static_cast<std::size_t>(keepFrom_ - heldFrom_);
    if (!held_ || heldLent_ || heldFrames_ + frames > capacity_) {
        // Room for a whole job's frames, so that a block is replaced about
        // once per job.
        const int N = plan_.fftSize();
        const std::size_t capacity = std::max<std::size_t>(
            2 * (kept + frames), static_cast<std::size_t>(JobFrames(N)) * (N / 2) + 2 * N);
        std::shared_ptr<double[]> block(new double[static_cast<std::size_t>(strips) * capacity]);
        if (held_) {
            for (int s = 0; s < strips; ++s)
                std::copy_n(held_.get() + s * capacity_ + (keepFrom_ - heldFrom_), kept,
                            block.get() + s * capacity);
        }
        held_ = std::move(block);
        heldLent_ = false;
        capacity_ = capacity;
        heldFrom_ = keepFrom_;
        heldFrames_ = kept;
    }
    ConvertStrips(plan_, data, bits_, frames, held_.get() + heldFrames_, capacity_);
    heldFrames_ += frames;
    pushed_ += frames;
    peakHeld_ = std::max(peakHeld_, heldFrames_);
    Dispatch(pushed_, false);
}

void SpectrogramStream::Finish() {
    Dispatch(pushed_, true);
    Retire(true);
}

// Hands the frames that can be computed to jobs: while streaming, those whose
// samples have all arrived (their starts no longer depend on where the
// recording ends), a job once it is full; at the end, all that are left.
void SpectrogramStream::Dispatch(std::uint64_t length, bool final) {
    const int N = plan_.fftSize();
    const int columns = plan_.columns();
    const int perColumn = plan_.framesPerColumn();
    const int jobFrames = JobFrames(N);
    if (plan_.tooShort() || (final && length < static_cast<std::uint64_t>(N))) {
        nextColumn_ = columns;  // nothing to compute: every column stays empty
        nextFrame_ = 0;
    }
    for (;;) {
        if (!pending_) pending_ = std::make_unique<Job>();
        Job& job = *pending_;
        bool full = false;
        while (nextColumn_ < columns) {
            const int c = nextColumn_;
            if (static_cast<int>(job.frames.size()) >= jobFrames ||
                (!job.frames.empty() && c - job.frames.front().column >= kJobColumns)) {
                full = true;
                break;
            }
            std::int64_t start = -1;
            if (final) {
                start = plan_.FrameStart(c, nextFrame_, length);
            } else {
                start = plan_.OpenStart(c, nextFrame_);
                if (static_cast<std::uint64_t>(start) + N > pushed_) break;
            }
            // The same frame twice in a column adds nothing.
            if (start >= 0 && (job.frames.empty() || job.frames.back().column != c ||
                               job.frames.back().start != start))
                job.frames.push_back({c, start});
            if (++nextFrame_ == perColumn) {
                nextFrame_ = 0;
                ++nextColumn_;
            }
        }
        if (!full && !final) break;  // the job waits for more samples
        job.completeBefore = nextColumn_;
        if (job.frames.empty() && job.completeBefore <= launchedUpTo_) break;
        launchedUpTo_ = job.completeBefore;
        if (!job.frames.empty()) {
            job.samples = held_;
            heldLent_ = true;  // never written again
            job.from = heldFrom_;
            job.stride = capacity_;
        }
        Launch(std::move(pending_));
        if (!full) break;
    }
    // Samples no later frame needs are let go (when the block is next
    // replaced); the last N stay for the frames the end of the recording
    // will place.
    if (!final && nextColumn_ < columns) {
        std::uint64_t keepFrom = std::min<std::uint64_t>(
            static_cast<std::uint64_t>(plan_.OpenStart(nextColumn_, nextFrame_)),
            pushed_ > static_cast<std::uint64_t>(N) ? pushed_ - N : 0);
        if (pending_ && !pending_->frames.empty())
            keepFrom =
                std::min(keepFrom, static_cast<std::uint64_t>(pending_->frames.front().start));
        keepFrom_ = std::clamp<std::uint64_t>(keepFrom, heldFrom_, heldFrom_ + heldFrames_);
    }
}

void SpectrogramStream::Launch(std::unique_ptr<Job> job) {
    Job* raw = job.get();
    inFlight_.push_back(std::move(job));
    if (!raw->frames.empty()) {
        pool_.Post([this, raw] {
            thread_local SpectrogramPlan::Scratch scratch;
            raw->firstColumn = raw->frames.front().column;
            for (const Job::Frame& f : raw->frames) {
                const std::size_t index = static_cast<std::size_t>(f.column - raw->firstColumn);
                if (index >= raw->partial.size()) raw->partial.resize(index + 1);
                if (!raw->partial[index]) {
                    raw->partial[index] = std::make_unique<SpectrogramPlan::Column>();
                    plan_.ResetColumn(*raw->partial[index]);
                }
                plan_.AddFrame(raw->samples.get() + (f.start - raw->from), raw->stride, scratch,
                               *raw->partial[index]);
            }
            raw->samples.reset();
            std::lock_guard lock(raw->mutex);
            raw->done = true;
            raw->cv.notify_all();
        });
    } else {
        raw->done = true;
    }
    const std::size_t limit = 2 * static_cast<std::size_t>(pool_.threads()) + 1;
    while (inFlight_.size() > limit) Retire(false);
}

// Waits for the oldest job (or all) and merges it, in dispatch order.
void SpectrogramStream::Retire(bool all) {
    while (!inFlight_.empty()) {
        Job& job = *inFlight_.front();
        {
            std::unique_lock lock(job.mutex);
            job.cv.wait(lock, [&] { return job.done; });
        }
        MergeJob(job);
        inFlight_.erase(inFlight_.begin());
        if (!all) return;
    }
}

void SpectrogramStream::MergeJob(Job& job) {
    const std::size_t size = static_cast<std::size_t>(plan_.strips()) * (plan_.fftSize() / 2 + 1);
    for (std::size_t i = 0; i < job.partial.size(); ++i) {
        if (!job.partial[i]) continue;
        const std::size_t index = job.firstColumn + i - finishedUpTo_;
        if (index >= open_.size()) open_.resize(index + 1);
        std::unique_ptr<SpectrogramPlan::Column>& column = open_[index];
        if (!column) {
            column = std::move(job.partial[i]);
            continue;
        }
        KeepHighest(column->power.data(), job.partial[i]->power.data(), size);
        column->frames += job.partial[i]->frames;
    }
    SpectrogramPlan::Column empty;
    while (finishedUpTo_ < job.completeBefore) {
        const int c = finishedUpTo_;
        const SpectrogramPlan::Column* column = nullptr;
        if (!open_.empty() && open_.front()) column = open_.front().get();
        if (column == nullptr) {
            if (empty.power.empty()) plan_.ResetColumn(empty);
            column = &empty;
        }
        plan_.FinishColumn(*column, levels_.ColumnStorage(c));
        levels_.MarkDone(c);
        if (!open_.empty()) open_.erase(open_.begin());
        ++finishedUpTo_;
    }
}

}  // namespace vurma
