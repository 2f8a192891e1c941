#include "span_spectrum.h"

#include <algorithm>
#include <cctype>
#include <complex>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "real_fft.h"
#include "worker_pool.h"

namespace vurma {

namespace {

struct NamedChannel {
    const char* name;
    SpectrumChannel channel;
};
constexpr NamedChannel kChannelNames[] = {
    {"mix", SpectrumChannel::kMix},     {"left", SpectrumChannel::kLeft},
    {"right", SpectrumChannel::kRight}, {"mid", SpectrumChannel::kMid},
    {"side", SpectrumChannel::kSide},
};

// About a quarter of a million samples per batch: enough work to be worth a
// task, small enough that a long span splits into many.
int BatchFrames(int fftSize) { return std::max(1, (1 << 18) / fftSize); }

// Sample `c` of the frame at `p` in full-scale units.
template <int Bits, bool IsFloat>
inline double SampleAt(const std::uint8_t* p, int c) {
    if constexpr (Bits == 8) {
        return (static_cast<int>(p[c]) - 128) / 128.0;
    } else if constexpr (Bits == 16) {
        const std::uint8_t* s = p + 2 * c;
        return static_cast<std::int16_t>(s[0] | (s[1] << 8)) / 32768.0;
    } else if constexpr (Bits == 24) {
        const std::uint8_t* s = p + 3 * c;
        const auto v = static_cast<std::int32_t>((static_cast<std::uint32_t>(s[0]) << 8) |
                                                 (static_cast<std::uint32_t>(s[1]) << 16) |
                                                 (static_cast<std::uint32_t>(s[2]) << 24));
        return (v >> 8) / 8388608.0;
    } else if constexpr (IsFloat) {
        float x = 0;
        std::memcpy(&x, p + 4 * c, 4);
        return x;
    } else {
        std::int32_t x = 0;
        std::memcpy(&x, p + 4 * c, 4);
        return x / 2147483648.0;
    }
}

// Writes `frames` frames of the set `channel` to out[0 ..].
template <int Bits, bool IsFloat>
void ConvertSet(const std::uint8_t* p, std::size_t frames, int channels, SpectrumChannel channel,
                double* out) {
    const std::size_t step = static_cast<std::size_t>(channels) * (Bits / 8);
    const auto at = [](const std::uint8_t* q, int c) { return SampleAt<Bits, IsFloat>(q, c); };
    switch (channel) {
        case SpectrumChannel::kMix:
            if (channels == 2) {
                for (std::size_t i = 0; i < frames; ++i, p += step)
                    out[i] = 0.5 * (at(p, 0) + at(p, 1));
            } else {
                for (std::size_t i = 0; i < frames; ++i, p += step) {
                    double sum = 0;
                    for (int c = 0; c < channels; ++c) sum += at(p, c);
                    out[i] = sum / channels;
                }
            }
            break;
        case SpectrumChannel::kLeft:
            for (std::size_t i = 0; i < frames; ++i, p += step) out[i] = at(p, 0);
            break;
        case SpectrumChannel::kRight:
            for (std::size_t i = 0; i < frames; ++i, p += step) out[i] = at(p, 1);
            break;
        case SpectrumChannel::kMid:
            for (std::size_t i = 0; i < frames; ++i, p += step)
                out[i] = 0.5 * (at(p, 0) + at(p, 1));
            break;
        case SpectrumChannel::kSide:
            for (std::size_t i = 0; i < frames; ++i, p += step)
                out[i] = 0.5 * (at(p, 0) - at(p, 1));
            break;
    }
}

void ConvertSet(const PcmFormat& f, const std::uint8_t* p, std::size_t frames,
                SpectrumChannel channel, double* out) {
    switch (f.bitsPerSample) {
        case 8:
            return ConvertSet<8, false>(p, frames, f.channels, channel, out);
        case 16:
            return ConvertSet<16, false>(p, frames, f.channels, channel, out);
        case 24:
            return ConvertSet<24, false>(p, frames, f.channels, channel, out);
        default:
            if (f.isFloat) return ConvertSet<32, true>(p, frames, f.channels, channel, out);
            return ConvertSet<32, false>(p, frames, f.channels, channel, out);
    }
}

}  // namespace

const char* SpectrumChannelName(SpectrumChannel channel) {
    for (const NamedChannel& entry : kChannelNames)
        if (entry.channel == channel) return entry.name;
    return "";
}

std::optional<SpectrumChannel> ParseSpectrumChannel(std::string_view name) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const NamedChannel& entry : kChannelNames)
        if (lower == entry.name) return entry.channel;
    return std::nullopt;
}

bool HasSpectrumChannel(SpectrumChannel channel, int channels) {
    return channel == SpectrumChannel::kMix ? channels >= 1 : channels >= 2;
}

std::vector<SpectrumChannel> AllSpectrumChannels(int channels) {
    if (channels < 2) return {SpectrumChannel::kMix};
    return {SpectrumChannel::kMix, SpectrumChannel::kLeft, SpectrumChannel::kRight,
            SpectrumChannel::kMid, SpectrumChannel::kSide};
}

bool IsSpanFftSize(int size) {
    return size >= kSpanFftMinSize && size <= kSpanFftMaxSize && (size & (size - 1)) == 0;
}

std::int64_t SpanFrameCount(std::int64_t samples, int fftSize) {
    if (fftSize < 2 || samples < fftSize) return 0;
    return (samples - fftSize) / (fftSize / 2) + 1;
}

// Samples of a batch of frames, set-major, waiting for a thread.
struct SpanBatch {
    std::int64_t index = 0;
    int frames = 0;
    std::size_t span = 0;  // samples per set
    std::vector<double> samples;
};

// Power sums and maxima of one batch, sets * bins each.
struct SpanPartial {
    int frames = 0;
    std::vector<double> sum, max;
};

// What the feeder and the pool's tasks share; tasks hold it by shared_ptr,
// so one that runs after the accumulator is gone finds nothing to do.
struct SpanAccumulator::Shared {
    int n = 0, hop = 0, bins = 0, sets = 0, sampleRate = 0;
    WindowShape shape = WindowShape::kHann;
    std::vector<SpectrumChannel> channels;
    std::vector<double> window;
    double scale = 0;
    RealFft fft{kSpanFftMinSize};

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<SpanBatch> queue;  // issued, not started
    int running = 0;
    std::map<std::int64_t, SpanPartial> done;  // computed, waiting for earlier ones
    std::int64_t nextMerge = 0;
    std::int64_t issued = 0;
    std::vector<double> sum, max;  // merged, sets * bins
    std::int64_t framesMerged = 0;
    std::atomic<std::int64_t> framesDone{0};
    std::atomic<bool> cancel{false};

    // Takes the oldest waiting batch, if any, computes it and merges what
    // can be merged in order. Returns false when there was none.
    bool RunOne();
    void Compute(const SpanBatch& batch, SpanPartial* out) const;
    SpanSpectrum ToSpectrum(const std::vector<double>& s, const std::vector<double>& m,
                            std::int64_t frames) const;
};

bool SpanAccumulator::Shared::RunOne() {
    SpanBatch batch;
    {
        std::lock_guard lock(mutex);
        if (queue.empty()) return false;
        batch = std::move(queue.front());
        queue.pop_front();
        ++running;
    }
    SpanPartial partial;
    if (!cancel.load(std::memory_order_acquire)) Compute(batch, &partial);
    std::lock_guard lock(mutex);
    --running;
    done.emplace(batch.index, std::move(partial));
    for (auto it = done.find(nextMerge); it != done.end(); it = done.find(nextMerge)) {
        const SpanPartial& p = it->second;
        if (p.frames > 0) {
            for (std::size_t i = 0; i < sum.size(); ++i) {
                sum[i] += p.sum[i];
                max[i] = std::max(max[i], p.max[i]);
            }
            framesMerged += p.frames;
            framesDone.store(framesMerged, std::memory_order_release);
        }
        done.erase(it);
        ++nextMerge;
    }
    changed.notify_all();
    return true;
}

void SpanAccumulator::Shared::Compute(const SpanBatch& batch, SpanPartial* out) const {
    thread_local std::vector<double> power;
    power.resize(bins);
    out->frames = batch.frames;
    out->sum.assign(static_cast<std::size_t>(sets) * bins, 0.0);
    out->max.assign(static_cast<std::size_t>(sets) * bins, 0.0);
    for (int s = 0; s < sets; ++s) {
        double* sumRow = out->sum.data() + static_cast<std::size_t>(s) * bins;
        double* maxRow = out->max.data() + static_cast<std::size_t>(s) * bins;
        const double* samples = batch.samples.data() + s * batch.span;
        for (int f = 0; f < batch.frames; ++f) {
            const double* x = samples + static_cast<std::size_t>(f) * hop;
            fft.Power(x, nullptr, power.data(), window.data());
            for (int k = 0; k < bins; ++k) {
                sumRow[k] += power[k];
                maxRow[k] = std::max(maxRow[k], power[k]);
            }
        }
    }
}

SpanSpectrum SpanAccumulator::Shared::ToSpectrum(const std::vector<double>& s,
                                                 const std::vector<double>& m,
                                                 std::int64_t frames) const {
    SpanSpectrum result;
    result.sampleRate = sampleRate;
    result.fftSize = n;
    result.window = shape;
    result.frames = frames;
    if (frames == 0) return result;
    for (int c = 0; c < sets; ++c) {
        SpectrumCurves curves;
        curves.channel = channels[c];
        curves.averageDb.resize(bins);
        curves.maxDb.resize(bins);
        for (int k = 0; k < bins; ++k) {
            const std::size_t i = static_cast<std::size_t>(c) * bins + k;
            curves.averageDb[k] =
                PowerToDbfs(s[i] / static_cast<double>(frames), scale, kSpanFloorDb);
            curves.maxDb[k] = PowerToDbfs(m[i], scale, kSpanFloorDb);
        }
        result.curves.push_back(std::move(curves));
    }
    return result;
}

SpanAccumulator::SpanAccumulator(const SpanSpectrumSettings& settings, int sampleRate,
                                 const PcmFormat& format, WorkerPool* pool)
    : shared_(std::make_shared<Shared>()), pool_(pool), format_(format) {
    Shared& s = *shared_;
    s.n = IsSpanFftSize(settings.fftSize) ? settings.fftSize : kSpanFftDefaultSize;
    s.hop = s.n / 2;
    s.bins = s.n / 2 + 1;
    s.sampleRate = sampleRate;
    s.shape = settings.window;
    for (SpectrumChannel c : settings.channels)
        if (HasSpectrumChannel(c, format.channels)) s.channels.push_back(c);
    s.sets = static_cast<int>(s.channels.size());
    s.window = MakeWindow(settings.window, s.n);
    s.scale = DbfsPowerScale(s.window);
    s.fft = RealFft(s.n);
    s.sum.assign(static_cast<std::size_t>(s.sets) * s.bins, 0.0);
    s.max.assign(static_cast<std::size_t>(s.sets) * s.bins, 0.0);
    const int batch = BatchFrames(s.n);
    pendingCap_ = static_cast<std::size_t>(batch - 1) * s.hop + s.n;
    pending_.assign(pendingCap_ * s.sets, 0.0);
    if (format_.FrameBytes() <= 0 || format_.bitsPerSample % 8 != 0) s.sets = 0;
}

SpanAccumulator::~SpanAccumulator() {
    Cancel();
    // Batches still queued are dropped by whoever takes them; wait for the
    // ones running, which read nothing of this object but the shared state.
    Shared& s = *shared_;
    while (s.RunOne()) {
    }
    std::unique_lock lock(s.mutex);
    s.changed.wait(lock, [&] { return s.running == 0; });
}

bool SpanAccumulator::Feed(const std::uint8_t* bytes, std::size_t count) {
    Shared& s = *shared_;
    if (s.cancel.load(std::memory_order_acquire)) return false;
    if (s.sets == 0 || finished_) return true;
    const std::size_t frameBytes = format_.FrameBytes();
    // Converts whole frames into the pending samples, a batch at a time.
    const auto take = [&](const std::uint8_t* p, std::size_t frames) {
        while (frames > 0) {
            const std::size_t run = std::min(frames, pendingCap_ - pendingLen_);
            for (int set = 0; set < s.sets; ++set)
                ConvertSet(format_, p, run, s.channels[set],
                           pending_.data() + set * pendingCap_ + pendingLen_);
            pendingLen_ += run;
            p += run * frameBytes;
            frames -= run;
            if (pendingLen_ == pendingCap_) IssueBatch(BatchFrames(s.n));
        }
    };
    // Complete a frame split by the previous chunk first.
    if (!carry_.empty()) {
        const std::size_t need = std::min(frameBytes - carry_.size(), count);
        carry_.insert(carry_.end(), bytes, bytes + need);
        bytes += need;
        count -= need;
        if (carry_.size() < frameBytes) return true;
        take(carry_.data(), 1);
        carry_.clear();
    }
    const std::size_t frames = count / frameBytes;
    take(bytes, frames);
    carry_.assign(bytes + frames * frameBytes, bytes + count);
    return !s.cancel.load(std::memory_order_acquire);
}

void SpanAccumulator::IssueBatch(int frames) {
    Shared& s = *shared_;
    SpanBatch batch;
    batch.index = nextBatch_++;
    batch.frames = frames;
    batch.span = static_cast<std::size_t>(frames - 1) * s.hop + s.n;
    batch.samples.resize(batch.span * s.sets);
    for (int set = 0; set < s.sets; ++set)
        std::copy_n(pending_.begin() + set * pendingCap_, batch.span,
                    batch.samples.begin() + set * batch.span);
    // Keep what the next batch's frames overlap.
    const std::size_t consumed = static_cast<std::size_t>(frames) * s.hop;
    const std::size_t keep = pendingLen_ > consumed ? pendingLen_ - consumed : 0;
    for (int set = 0; set < s.sets; ++set) {
        auto row = pending_.begin() + set * pendingCap_;
        std::copy(row + consumed, row + consumed + keep, row);
    }
    pendingLen_ = keep;

    // Batches issued and not merged yet are bounded: past that the feeder
    // computes one itself, which also keeps a single-threaded pool moving.
    const int limit = pool_ != nullptr ? 2 * pool_->threads() + 2 : 0;
    bool help = false;
    {
        std::lock_guard lock(s.mutex);
        s.queue.push_back(std::move(batch));
        ++s.issued;
        help = s.issued - s.nextMerge > limit;
    }
    if (pool_ != nullptr) {
        pool_->Post([shared = shared_] { shared->RunOne(); });
    }
    if (help || pool_ == nullptr) s.RunOne();
}

SpanSpectrum SpanAccumulator::Finish() {
    Shared& s = *shared_;
    if (!finished_) {
        finished_ = true;
        const std::int64_t frames = SpanFrameCount(static_cast<std::int64_t>(pendingLen_), s.n);
        if (frames > 0 && s.sets > 0 && !s.cancel.load(std::memory_order_acquire))
            IssueBatch(static_cast<int>(frames));
    }
    // Work through what the pool has not started, then wait for the rest.
    while (s.RunOne()) {
    }
    std::unique_lock lock(s.mutex);
    s.changed.wait(lock, [&] { return s.running == 0 && s.queue.empty(); });
    return s.ToSpectrum(s.sum, s.max, s.framesMerged);
}

void SpanAccumulator::Cancel() { shared_->cancel.store(true, std::memory_order_release); }

bool SpanAccumulator::Cancelled() const { return shared_->cancel.load(std::memory_order_acquire); }

std::int64_t SpanAccumulator::FramesDone() const {
    return shared_->framesDone.load(std::memory_order_acquire);
}

SpanSpectrum SpanAccumulator::Snapshot() const {
    const Shared& s = *shared_;
    std::vector<double> sum, max;
    std::int64_t frames = 0;
    {
        std::lock_guard lock(s.mutex);
        sum = s.sum;
        max = s.max;
        frames = s.framesMerged;
    }
    return s.ToSpectrum(sum, max, frames);
}

SpanSpectrum ComputeSpanSpectrum(const PcmView& pcm, int sampleRate, std::uint32_t first,
                                 std::uint32_t count, const SpanSpectrumSettings& settings,
                                 WorkerPool* pool, const std::atomic<bool>* cancel) {
    const PcmFormat format{pcm.channels, pcm.bitsPerSample, false};
    SpanAccumulator accumulator(settings, sampleRate, format, pool);
    const std::uint32_t frames = CompleteFrames(pcm);
    first = std::min(first, frames);
    count = std::min(count, frames - first);
    const std::size_t frameBytes = format.FrameBytes();
    // Chunks of about a megabyte, so that a cancel is seen soon.
    const std::size_t chunkFrames =
        std::max<std::size_t>(1, (1u << 20) / std::max<std::size_t>(frameBytes, 1));
    for (std::size_t done = 0; done < count; done += chunkFrames) {
        if (cancel != nullptr && cancel->load(std::memory_order_acquire)) {
            accumulator.Cancel();
            break;
        }
        const std::size_t take = std::min<std::size_t>(chunkFrames, count - done);
        accumulator.Feed(pcm.data + (first + done) * frameBytes, take * frameBytes);
    }
    return accumulator.Finish();
}

}  // namespace vurma
