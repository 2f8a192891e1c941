#include "analysis/recording_report.h"

#include <ebur128.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <complex>
#include <cstring>
#include <functional>
#include <limits>

#include "analysis/real_fft.h"
#include "analysis/window_shape.h"
#include "analysis/worker_pool.h"

namespace vurma {
namespace {

constexpr double kFullScale = 2147483648.0;  // samples are held left-justified in 32 bits
constexpr double kMinusInf = -std::numeric_limits<double>::infinity();
constexpr int kSpectrumBands = 128;
// Frames analysed at once; batches of at least kParallelFrames are split
// over the worker pool.
constexpr std::size_t kBatchFrames = 32768;
constexpr std::size_t kParallelFrames = 8192;

constexpr char kNoteTooShortLoudness[] = UI_TEXT("ラウドネスには 0.4 秒以上の長さが必要です");
constexpr char kNoteTooShortShortTerm[] =
    UI_TEXT("ショートタームとラウドネスレンジには 3 秒以上の長さが必要です");
constexpr char kNoteSilentLoudness[] = UI_TEXT("無音のためラウドネスは測れません");
constexpr char kNoteDigitalSilence[] = UI_TEXT("すべてのサンプルが 0 です");
constexpr char kNoteSilentChannel[] = UI_TEXT("無音のチャンネルがあるため相関は測れません");

double ToDb(double linear) { return linear > 0.0 ? 20.0 * std::log10(linear) : kMinusInf; }

int SpectrumSize(int sampleRate) {
    int n = 4096;
    for (int r = 48000; r < sampleRate && n < kRealFftMaxSize; r *= 2) n *= 2;
    return n;
}

struct ChannelStats {
    std::uint32_t peak = 0;  // largest |x|, left-justified
    double sum = 0.0;
    double sumSquares = 0.0;
    std::uint32_t orBits = 0;
    std::uint64_t clipped = 0;
    int runSign = 0;  // +1 / -1 while in a run at full scale
    std::uint64_t runLength = 0;
    std::uint64_t runStart = 0;
    std::vector<std::uint64_t> clipStarts;  // the first kMaxFirstClips run starts
    std::int64_t firstLoud = -1;
    std::int64_t lastLoud = -1;
};

struct SpectrumChannel {
    std::vector<double> pending;  // samples not yet in a whole frame
    std::size_t start = 0;        // first unused sample in pending
    std::vector<double> frame;
    std::vector<std::complex<double>> work;
    std::vector<double> power;
    std::vector<double> powerSum;
    std::uint64_t frames = 0;
};

}  // namespace

struct ReportAccumulator::Impl {
    PcmLayout layout;
    int bytesPerSample = 0;
    int shift = 0;
    bool valid = false;
    std::vector<std::uint8_t> staged;   // less than a batch, whole frames or not
    std::vector<std::int32_t> samples;  // interleaved, left-justified
    std::uint64_t frameCount = 0;

    ebur128_state* loudness = nullptr;
    std::uint64_t loudnessFrames = 0;
    double maxMomentary = kMinusInf;
    double maxShortTerm = kMinusInf;
    std::array<double, 30> energies{};  // the last 3 s in 100 ms steps, a ring
    std::size_t steps = 0;
    std::vector<ebur128_state*> truePeak;  // one single-channel state per channel
    std::vector<std::vector<float>> planar;

    std::vector<ChannelStats> stats;
    double sumLR = 0.0;
    std::uint32_t fullPositive = 0;
    std::uint32_t loudThreshold = 0;

    int fftSize = 0;
    std::unique_ptr<RealFft> fft;
    std::vector<double> window;
    std::vector<SpectrumChannel> spectrum;

    ~Impl() {
        if (loudness != nullptr) ebur128_destroy(&loudness);
        for (ebur128_state*& s : truePeak) {
            if (s != nullptr) ebur128_destroy(&s);
        }
    }

    void Convert(const std::uint8_t* p, std::size_t frames) {
        const std::size_t n = frames * static_cast<std::size_t>(layout.channels);
        samples.resize(n);
        std::int32_t* out = samples.data();
        switch (layout.bitsPerSample) {
            case 8:
                for (std::size_t i = 0; i < n; ++i)
                    out[i] =
                        static_cast<std::int32_t>(static_cast<std::uint32_t>(p[i] ^ 0x80u) << 24);
                break;
            case 16:
                for (std::size_t i = 0; i < n; ++i) {
                    std::int16_t v;
                    std::memcpy(&v, p + 2 * i, 2);
                    out[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(v) << 16);
                }
                break;
            case 24:
                for (std::size_t i = 0; i < n; ++i) {
                    const std::uint8_t* s = p + 3 * i;
                    out[i] = static_cast<std::int32_t>((std::uint32_t{s[0]} << 8) |
                                                       (std::uint32_t{s[1]} << 16) |
                                                       (std::uint32_t{s[2]} << 24));
                }
                break;
            default:
                std::memcpy(out, p, n * 4);
                break;
        }
    }

    void Process(const std::uint8_t* pcm, std::size_t frames) {
        if (frames == 0) return;
        Convert(pcm, frames);
        const int channels = layout.channels;
        // Tasks: one true peak per channel (the longest), loudness, one
        // spectrum per channel, the statistics.
        const int tasks = 2 + 2 * channels;
        auto run = [this, frames, channels](int task) {
            if (task < channels) {
                RunTruePeak(task, frames);
            } else if (task == channels) {
                RunLoudness(frames);
            } else if (task < 2 * channels + 1) {
                RunSpectrum(task - channels - 1, frames);
            } else {
                RunStats(frames);
            }
        };
        if (frames >= kParallelFrames) {
            WorkerPool::Shared().ParallelFor(tasks, run);
        } else {
            for (int t = 0; t < tasks; ++t) run(t);
        }
        frameCount += frames;
    }

    void RunLoudness(std::size_t frames) {
        // Fed in pieces that end on 100 ms steps. At each step libebur128
        // gives the loudness of the last 100 ms; the momentary (400 ms) and
        // short-term (3 s) levels are the mean of the last 4 and 30 such
        // energies, which is exactly their definition, without the library
        // summing 3 s of samples anew ten times a second.
        const std::uint64_t step = static_cast<std::uint64_t>(layout.sampleRate) / 10;
        std::size_t done = 0;
        while (done < frames) {
            const std::uint64_t toStep = step - loudnessFrames % step;
            const std::size_t piece =
                static_cast<std::size_t>(std::min<std::uint64_t>(toStep, frames - done));
            ebur128_add_frames_int(loudness, samples.data() + done * layout.channels, piece);
            done += piece;
            loudnessFrames += piece;
            if (loudnessFrames % step != 0) continue;
            double lufs = kMinusInf;
            if (ebur128_loudness_window(loudness, 100, &lufs) != EBUR128_SUCCESS) lufs = kMinusInf;
            const double energy = std::isfinite(lufs) ? std::pow(10.0, (lufs + 0.691) / 10.0) : 0.0;
            energies[steps % energies.size()] = energy;
            ++steps;
            auto meanOfLast = [this](std::size_t count) {
                double sum = 0.0;
                for (std::size_t i = 1; i <= count; ++i)
                    sum += energies[(steps - i) % energies.size()];
                return sum > 0 ? 10.0 * std::log10(sum / count) - 0.691 : kMinusInf;
            };
            if (steps >= 4) maxMomentary = std::max(maxMomentary, meanOfLast(4));
            if (steps >= energies.size())
                maxShortTerm = std::max(maxShortTerm, meanOfLast(energies.size()));
        }
    }

    void RunTruePeak(int c, std::size_t frames) {
        // As floats: the library's fastest input (exact for 24 bits and below).
        std::vector<float>& mono = planar[c];
        mono.resize(frames);
        const int channels = layout.channels;
        const std::int32_t* in = samples.data() + c;
        constexpr float kScale = static_cast<float>(1.0 / kFullScale);
        for (std::size_t i = 0; i < frames; ++i)
            mono[i] = static_cast<float>(in[i * channels]) * kScale;
        ebur128_add_frames_float(truePeak[c], mono.data(), frames);
    }

    void RunStats(std::size_t frames) {
        const int channels = layout.channels;
        const std::int32_t* in = samples.data();
        for (int c = 0; c < channels; ++c) {
            ChannelStats& s = stats[c];
            std::int64_t sum = 0;
            double squares = 0.0;
            std::uint32_t peak = s.peak, orBits = s.orBits;
            for (std::size_t i = 0; i < frames; ++i) {
                const std::int32_t x = in[i * channels + c];
                const std::uint32_t a =
                    x < 0 ? 0u - static_cast<std::uint32_t>(x) : static_cast<std::uint32_t>(x);
                peak = std::max(peak, a);
                orBits |= static_cast<std::uint32_t>(x);
                sum += x >> 8;
                const double d = x;
                squares += d * d;
                if (a >= loudThreshold) {
                    const std::int64_t t = static_cast<std::int64_t>(frameCount + i);
                    if (s.firstLoud < 0) s.firstLoud = t;
                    s.lastLoud = t;
                }
                const int sign = x == INT32_MIN                                 ? -1
                                 : x >= static_cast<std::int32_t>(fullPositive) ? 1
                                                                                : 0;
                if (sign != 0 && sign == s.runSign) {
                    ++s.runLength;
                } else {
                    s.runSign = sign;
                    s.runLength = sign != 0 ? 1 : 0;
                    s.runStart = frameCount + i;
                }
                if (s.runLength == kClipRunLength) {
                    s.clipped += kClipRunLength;
                    if (s.clipStarts.size() < kMaxFirstClips) s.clipStarts.push_back(s.runStart);
                } else if (s.runLength > kClipRunLength) {
                    ++s.clipped;
                }
            }
            s.peak = peak;
            s.orBits = orBits;
            s.sum += static_cast<double>(sum) * 256.0;
            s.sumSquares += squares;
        }
        if (channels == 2) {
            double lr = 0.0;
            for (std::size_t i = 0; i < frames; ++i)
                lr += static_cast<double>(in[2 * i]) * static_cast<double>(in[2 * i + 1]);
            sumLR += lr;
        }
    }

    void RunSpectrum(int c, std::size_t frames) {
        SpectrumChannel& s = spectrum[c];
        const int channels = layout.channels;
        const std::int32_t* in = samples.data() + c;
        if (s.start > 0 && s.start >= s.pending.size() / 2) {
            s.pending.erase(s.pending.begin(),
                            s.pending.begin() + static_cast<std::ptrdiff_t>(s.start));
            s.start = 0;
        }
        const std::size_t old = s.pending.size();
        s.pending.resize(old + frames);
        for (std::size_t i = 0; i < frames; ++i) s.pending[old + i] = in[i * channels] / kFullScale;
        const std::size_t n = static_cast<std::size_t>(fftSize);
        while (s.pending.size() - s.start >= n) {
            AddFrame(s, s.pending.data() + s.start, n);
            // Frames side by side: a long-term average needs no overlap,
            // and each sample passes the transform once.
            s.start += n;
        }
    }

    void AddFrame(SpectrumChannel& s, const double* x, std::size_t count) {
        const std::size_t n = static_cast<std::size_t>(fftSize);
        for (std::size_t i = 0; i < n; ++i) s.frame[i] = i < count ? x[i] * window[i] : 0.0;
        fft->Power(s.frame.data(), s.work.data(), s.power.data());
        for (std::size_t k = 0; k < s.power.size(); ++k) s.powerSum[k] += s.power[k];
        ++s.frames;
    }
};

ReportAccumulator::ReportAccumulator(const PcmLayout& layout) : d_(std::make_unique<Impl>()) {
    Impl& d = *d_;
    d.layout = layout;
    const int bits = layout.bitsPerSample;
    // Loudness steps every 100 ms: a rate below 10 Hz has no such step.
    if (layout.channels < 1 || layout.channels > 64 || layout.sampleRate < 10 ||
        (bits != 8 && bits != 16 && bits != 24 && bits != 32))
        return;
    d.bytesPerSample = bits / 8;
    d.shift = 32 - bits;
    const unsigned channels = static_cast<unsigned>(layout.channels);
    const unsigned long rate = static_cast<unsigned long>(layout.sampleRate);
    d.loudness =
        ebur128_init(channels, rate, EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_HISTOGRAM);
    if (d.loudness == nullptr) return;
    for (int c = 0; c < layout.channels; ++c) {
        ebur128_state* s = ebur128_init(1, rate, EBUR128_MODE_TRUE_PEAK);
        if (s == nullptr) return;
        d.truePeak.push_back(s);
    }
    d.planar.resize(channels);
    d.stats.resize(channels);
    d.fullPositive = 0x7FFFFFFFu >> d.shift << d.shift;
    d.loudThreshold = static_cast<std::uint32_t>(std::pow(10.0, kSilenceDbfs / 20.0) * kFullScale);
    d.fftSize = SpectrumSize(layout.sampleRate);
    d.fft = std::make_unique<RealFft>(d.fftSize);
    d.window = MakeWindow(WindowShape::kHann, d.fftSize);
    d.spectrum.resize(channels);
    for (SpectrumChannel& s : d.spectrum) {
        s.frame.resize(d.fftSize);
        s.work.resize(d.fft->bins());
        s.power.resize(d.fft->bins());
        s.powerSum.assign(d.fft->bins(), 0.0);
    }
    d.valid = true;
}

ReportAccumulator::~ReportAccumulator() = default;

bool ReportAccumulator::ok() const { return d_->valid; }

std::uint64_t ReportAccumulator::frames() const {
    const std::size_t frameBytes =
        static_cast<std::size_t>(d_->bytesPerSample) * d_->layout.channels;
    return d_->frameCount + (frameBytes > 0 ? d_->staged.size() / frameBytes : 0);
}

void ReportAccumulator::Feed(const std::uint8_t* data, std::size_t bytes) {
    Impl& d = *d_;
    if (!d.valid) return;
    // Small chunks (a streaming decode's buffers) are gathered first, so
    // that each batch is worth spreading over the pool.
    const std::size_t frameBytes = static_cast<std::size_t>(d.bytesPerSample) * d.layout.channels;
    const std::size_t batchBytes = kBatchFrames * frameBytes;
    while (bytes > 0) {
        if (d.staged.empty() && bytes >= batchBytes) {
            const std::size_t whole = bytes / frameBytes * frameBytes;
            d.Process(data, whole / frameBytes);
            data += whole;
            bytes -= whole;
            d.staged.assign(data, data + bytes);
            return;
        }
        const std::size_t take = std::min(bytes, batchBytes - d.staged.size());
        d.staged.insert(d.staged.end(), data, data + take);
        data += take;
        bytes -= take;
        if (d.staged.size() == batchBytes) {
            d.Process(d.staged.data(), kBatchFrames);
            d.staged.clear();
        }
    }
}

RecordingReport MeasurePcm(const std::uint8_t* data, std::size_t bytes, const PcmLayout& layout,
                           const std::atomic<bool>* cancel) {
    ReportAccumulator accumulator(layout);
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    for (std::size_t at = 0; at < bytes; at += kChunk) {
        if (cancel != nullptr && cancel->load(std::memory_order_acquire)) break;
        accumulator.Feed(data + at, std::min(kChunk, bytes - at));
    }
    return accumulator.Finish();
}

BandwidthVerdict JudgeBandwidth(const std::vector<double>& bandDb, double nyquistHz) {
    constexpr double kEmptyDb = -200.0;     // below this a band holds only rounding residue
    constexpr double kAboveFloorDb = 20.0;  // "clearly above" the floor that follows
    constexpr double kEdgeDb = 20.0;        // the edge: this far below the octave under it
    constexpr double kShelfDb = 25.0;       // a lossy shelf: that octave over all above
    BandwidthVerdict verdict;
    const int bands = static_cast<int>(bandDb.size());
    if (bands < 8 || nyquistHz <= 0) return verdict;
    const double width = nyquistHz / bands;
    auto level = [&](int b) {
        return std::isfinite(bandDb[b]) && bandDb[b] > kEmptyDb ? bandDb[b] : kMinusInf;
    };
    std::vector<double> maxFrom(bands + 1, kMinusInf);  // loudest band at or above b
    for (int b = bands - 1; b >= 0; --b) maxFrom[b] = std::max(maxFrom[b + 1], level(b));
    if (maxFrom[0] == kMinusInf) return verdict;

    // The floor after a band starts a tenth of its frequency above it (past
    // a filter's transition; natural spectra fall only a few dB over that
    // span) and runs to Nyquist. The highest band clearly above it is the
    // top of the content.
    auto gap = [](int b) { return std::max(2, static_cast<int>(std::ceil(0.1 * (b + 1)))); };
    int top = -1;
    for (int b = bands - 1; b >= 0 && top < 0; --b) {
        if (b + gap(b) < bands && level(b) > kMinusInf &&
            level(b) >= maxFrom[b + gap(b)] + kAboveFloorDb)
            top = b;
    }
    if (top < 0) {
        verdict.bandwidthHz = nyquistHz;
        verdict.lossySuspect = false;
        return verdict;
    }

    // The octave under the top: its power average sets the edge, its median
    // says whether it is filled (a lone tone is not).
    std::vector<double> octave;
    double power = 0.0;
    for (int b = (top + 1) / 2; b <= top; ++b) {
        octave.push_back(level(b));
        power += std::pow(10.0, level(b) / 10.0);
    }
    std::nth_element(octave.begin(), octave.begin() + octave.size() / 2, octave.end());
    const double median = octave[octave.size() / 2];
    const double threshold = 10.0 * std::log10(power / octave.size()) - kEdgeDb;

    // The edge: where the spectrum falls through the threshold, between band
    // centres, at most the floor's gap above the top.
    int edge = top;
    while (edge + 1 < std::min(bands, top + gap(top)) && level(edge + 1) >= threshold) ++edge;
    while (edge > 0 && level(edge) < threshold) --edge;
    double fc = (edge + 1) * width;
    if (edge + 1 < bands && level(edge + 1) > kMinusInf && level(edge) > level(edge + 1)) {
        const double part = (level(edge) - threshold) / (level(edge) - level(edge + 1));
        fc = (edge + 0.5 + std::min(1.0, part)) * width;
    }
    verdict.bandwidthHz = fc;

    // A lossy encoder's low-pass: well below Nyquist and below 20 kHz, over
    // a filled octave, with almost nothing above it.
    const double rest = maxFrom[std::min(bands, edge + 1 + gap(edge))];
    verdict.lossySuspect = fc < std::min(0.9 * nyquistHz, 20000.0) && fc >= 0.2 * nyquistHz &&
                           median > kMinusInf && median - rest >= kShelfDb;
    return verdict;
}

RecordingReport ReportAccumulator::Finish() {
    Impl& d = *d_;
    RecordingReport r;
    r.sampleRate = d.layout.sampleRate;
    r.channels = d.layout.channels;
    r.captureBits = d.layout.bitsPerSample;
    if (!d.valid) return r;
    const std::size_t frameBytes = static_cast<std::size_t>(d.bytesPerSample) * d.layout.channels;
    d.Process(d.staged.data(), d.staged.size() / frameBytes);  // a partial last frame is dropped
    d.staged.clear();
    const std::uint64_t n = d.frameCount;
    const double rate = d.layout.sampleRate;
    r.durationS = n / rate;
    const int channels = d.layout.channels;

    // Loudness: the gated measures need a whole 400 ms block, the short-term
    // level and the range a 3 s window.
    if (n < static_cast<std::uint64_t>(4 * (d.layout.sampleRate / 10))) {
        r.notes.push_back(kNoteTooShortLoudness);
    } else {
        double v = kMinusInf;
        if (ebur128_loudness_global(d.loudness, &v) == EBUR128_SUCCESS && std::isfinite(v)) {
            r.integratedLufs = v;
            r.maxMomentaryLufs = d.maxMomentary;
        } else {
            r.notes.push_back(kNoteSilentLoudness);
        }
        if (n < static_cast<std::uint64_t>(30 * (d.layout.sampleRate / 10))) {
            r.notes.push_back(kNoteTooShortShortTerm);
        } else if (r.integratedLufs) {
            if (ebur128_loudness_range(d.loudness, &v) == EBUR128_SUCCESS) r.loudnessRangeLu = v;
            r.maxShortTermLufs = d.maxShortTerm;
        }
    }

    std::uint32_t orBits = 0;
    std::int64_t firstLoud = -1, lastLoud = -1;
    std::vector<std::uint64_t> clipStarts;
    for (int c = 0; c < channels; ++c) {
        const ChannelStats& s = d.stats[c];
        double tp = 0.0;
        if (ebur128_true_peak(d.truePeak[c], 0, &tp) != EBUR128_SUCCESS) tp = 0.0;
        r.truePeakDbtp.push_back(ToDb(tp));
        r.samplePeakDbfs.push_back(ToDb(s.peak / kFullScale));
        // A full-scale sine has mean square 1/2: it reads 0 dB.
        r.rmsDbfs.push_back(n > 0 ? ToDb(std::sqrt(2.0 * s.sumSquares / n) / kFullScale)
                                  : kMinusInf);
        r.clippedSamples.push_back(s.clipped);
        r.dcOffset.push_back(n > 0 ? s.sum / n / kFullScale : 0.0);
        orBits |= s.orBits;
        clipStarts.insert(clipStarts.end(), s.clipStarts.begin(), s.clipStarts.end());
        if (s.firstLoud >= 0 && (firstLoud < 0 || s.firstLoud < firstLoud)) firstLoud = s.firstLoud;
        lastLoud = std::max(lastLoud, s.lastLoud);
    }
    std::sort(clipStarts.begin(), clipStarts.end());
    clipStarts.erase(std::unique(clipStarts.begin(), clipStarts.end()), clipStarts.end());
    if (clipStarts.size() > kMaxFirstClips) clipStarts.resize(kMaxFirstClips);
    for (std::uint64_t f : clipStarts) r.firstClipsS.push_back(f / rate);

    if (orBits != 0) {
        r.effectiveBits = 32 - std::countr_zero(orBits);
    } else if (n > 0) {
        r.notes.push_back(kNoteDigitalSilence);
    }

    if (channels == 2 && n > 0) {
        const double ll = d.stats[0].sumSquares, rr = d.stats[1].sumSquares;
        if (ll > 0 && rr > 0) {
            r.correlation = std::clamp(d.sumLR / std::sqrt(ll * rr), -1.0, 1.0);
        } else {
            r.notes.push_back(kNoteSilentChannel);
        }
    }

    if (n > 0) {
        r.silenceStartS = (firstLoud < 0 ? n : static_cast<std::uint64_t>(firstLoud)) / rate;
        r.silenceEndS = (lastLoud < 0 ? n : n - 1 - static_cast<std::uint64_t>(lastLoud)) / rate;

        // Long-term spectrum, power averaged over frames and channels; a
        // file shorter than one frame is analysed zero-padded.
        const int bins = d.fft->bins();
        std::vector<double> power(bins, 0.0);
        std::uint64_t frames = 0;
        for (SpectrumChannel& s : d.spectrum) {
            if (s.frames == 0)
                d.AddFrame(s, s.pending.data() + s.start, s.pending.size() - s.start);
            for (int k = 0; k < bins; ++k) power[k] += s.powerSum[k];
            frames += s.frames;
        }
        const double scale = DbfsPowerScale(d.window) / static_cast<double>(frames);
        const int perBand = (bins - 1) / kSpectrumBands;
        std::vector<double> bandDb(kSpectrumBands);
        for (int b = 0; b < kSpectrumBands; ++b) {
            double sum = 0.0;
            for (int k = 1 + b * perBand; k <= (b + 1) * perBand; ++k) sum += power[k];
            bandDb[b] = sum > 0 ? 10.0 * std::log10(sum / perBand * scale) : kMinusInf;
        }
        const BandwidthVerdict verdict = JudgeBandwidth(bandDb, rate / 2);
        r.bandwidthHz = verdict.bandwidthHz;
        r.lossySuspect = verdict.lossySuspect;
    }
    return r;
}

}  // namespace vurma
