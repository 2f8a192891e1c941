// The spectrogram of a whole recording, in dBFS: frames at most half an FFT
// apart, windowed (Hann by default) and transformed as real input, reduced
// to one level per pixel (the highest of the column's frames, and of the
// bins in a row; rows narrower than a bin are interpolated between bin
// centres), on a linear or logarithmic frequency axis, for the channel mix,
// one channel or every channel in strips of its own. Toolkit-free; the
// picture around it is drawn by display/.
//
// One implementation serves both ways of feeding it: a capture held in
// memory (SpectrogramLevels::Compute, the window) and PCM streamed as it is
// decoded (SpectrogramStream, the command line). Both compute each frame
// alike and give the same levels for the same recording and layout.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "real_fft.h"
#include "sample_store.h"
#include "window_shape.h"

namespace vurma {

class WorkerPool;

inline constexpr double kLogAxisMinHz = 20.0;  // lower end of the log axis
inline constexpr double kDefaultFloorDb = -120.0;
inline constexpr double kDefaultTopDb = 0.0;
inline constexpr int kSpectrogramMinFft = 256;
inline constexpr int kSpectrogramMaxFft = 16384;
inline constexpr double kSilenceDb = -300.0;  // level of digital silence

// The windows offered, in the order of the window's list.
inline constexpr WindowShape kSpectrogramWindows[] = {
    WindowShape::kHann, WindowShape::kHamming, WindowShape::kBlackman, WindowShape::kBlackmanHarris,
    WindowShape::kRectangular};

enum class ChannelView {
    kMix,  // the mean of all channels, one picture
    kOne,  // one channel (SpectrogramSettings::channel)
    kAll,  // every channel in a strip of its own, top to bottom
};

struct SpectrogramSettings {
    int fftSize = 0;  // 0: follows the recording (DefaultSpectrogramFft)
    WindowShape window = WindowShape::kHann;
    ChannelView channels = ChannelView::kMix;
    int channel = 0;  // kOne: 0-based channel index
    bool logFrequency = false;
    double topDb = kDefaultTopDb;
    double floorDb = kDefaultFloorDb;
};

// About 46 ms at the rate: 512 at 8-16 kHz, 2048 at 44.1/48 kHz, 4096 at
// 96 kHz, 8192 at 192 kHz (the largest power of two up to rate / 20, within
// kSpectrogramMinFft..kSpectrogramMaxFft, at least 512).
int DefaultSpectrogramFft(int sampleRate);

// The FFT size a recording of `frames` is drawn with: the chosen size (0:
// the default for the rate), halved while it is longer than the recording,
// down to kSpectrogramMinFft. 0 when the recording is shorter than that.
int EffectiveSpectrogramFft(int chosen, int sampleRate, std::uint64_t frames);

// True for a size the spectrogram offers (a power of two in range).
bool IsSpectrogramFftSize(int size);

// Strips of a picture of `channels` channels, and the name shown on strip s:
// "" for the mix (and for a mono file), "L" and "R" for stereo, else "1".."n".
int StripCount(const SpectrogramSettings& settings, int channels);
std::string StripName(const SpectrogramSettings& settings, int channels, int strip);
std::string ChannelName(int channels, int channel);

// The recording as the spectrogram sees it: the captured PCM (which may still
// grow; only the frames complete in `pcm` are read), its rate and the length
// the time axis is laid out for (the expected frame count while capturing).
struct SpectrogramSource {
    PcmView pcm;
    int sampleRate = 0;
    std::uint32_t totalFrames = 0;
    bool complete = false;  // the capture has ended: pcm holds all there is
};

// Frequency of a vertical pixel coordinate y (0 = top edge, rows = bottom
// edge of a strip) and back. Linear: 0 Hz .. Nyquist; log: kLogAxisMinHz ..
// Nyquist.
struct FrequencyAxis {
    bool log = false;
    double maxHz = 22050;
    int rows = 1;
    double minHz() const { return log ? kLogAxisMinHz : 0.0; }
    double HzAt(double y) const;
    double YOf(double hz) const;
};

// One picture's worth of work: which frames each column covers and how each
// row is read from the column's spectrum. Read-only once built, so any
// number of threads share it.
//
// Column c covers frames [first + c span, first + (c + 1) span) of the
// recording, span = (last - first) / columns; it takes ceil(span / hop)
// frames (hop = N / 2) with centres spread evenly over it, those whose
// centres lie before the recording's end (at least the first), each frame
// starting at its centre less N / 2, kept inside the recording.
class SpectrogramPlan {
  public:
    // `channels` of the recording (for the strips); `recordingFrames` its
    // length, which picks the FFT size with settings.fftSize.
    SpectrogramPlan(const SpectrogramSettings& settings, int sampleRate, int channels,
                    std::uint64_t recordingFrames, double firstFrame, double lastFrame, int columns,
                    int stripRows);

    const SpectrogramSettings& settings() const { return settings_; }
    int columns() const { return columns_; }
    int rows() const { return rows_; }  // per strip
    int strips() const { return strips_; }
    int channels() const { return channels_; }
    int levelsPerColumn() const { return strips_ * rows_; }
    int fftSize() const { return fft_.size(); }
    // No frame fits: the recording is shorter than kSpectrogramMinFft.
    bool tooShort() const { return tooShort_; }
    int sampleRate() const { return rate_; }
    const FrequencyAxis& axis() const { return axis_; }
    double FrameAtX(double x) const { return first_ + x * span_; }
    double XOfFrame(double frame) const { return (frame - first_) / span_; }

    // Frames laid out in each column (taken or not).
    int framesPerColumn() const { return framesPerColumn_; }
    // Start of frame k of column c in a recording of `length` frames, or -1
    // when the frame is not taken (its centre lies past the end).
    std::int64_t FrameStart(int c, int k, std::uint64_t length) const;
    // The start the frame would have without the end of the recording (only
    // kept at or after 0): once `length` reaches this plus N, the frame's
    // start no longer depends on the length.
    std::int64_t OpenStart(int c, int k) const;
    // True when column c lies wholly past the recording's end.
    bool PastEnd(int c, std::uint64_t length) const;

    // Working storage of one thread.
    struct Scratch;
    // The highest power per bin and strip of a column's frames so far.
    struct Column {
        std::vector<double> power;  // strips x (N/2 + 1), zero-filled
        int frames = 0;
    };
    void ResetColumn(Column& column) const;
    // Takes one frame: `samples` holds N samples of each strip, strip s at
    // samples + s * stride.
    void AddFrame(const double* samples, std::size_t stride, Scratch& scratch,
                  Column& column) const;
    // The column's levels, strip after strip, top row first, into
    // out[0..levelsPerColumn()-1]; NaN everywhere for a column without frames.
    void FinishColumn(const Column& column, float* out) const;

    // Levels of column c from a capture in memory. False (nothing written)
    // while the frames it needs are not captured yet, or when *cancel (if
    // given) becomes true; it is checked before each FFT frame.
    bool ComputeColumn(const SpectrogramSource& source, int c, Scratch& scratch, float* out,
                       const std::atomic<bool>* cancel = nullptr) const;

  private:
    SpectrogramSettings settings_;
    int rate_, channels_, strips_;
    RealFft fft_;
    bool tooShort_;
    int columns_, rows_;
    double first_, span_;  // frames per column
    int framesPerColumn_;
    FrequencyAxis axis_;
    std::vector<double> window_;
    double dbfsScale_;
    // Per row, top first: the bins [binLo, binHi] whose centres lie in it,
    // or (binHi < binLo) the interpolation at binLo + frac.
    std::vector<int> binLo_, binHi_;
    std::vector<double> frac_;
};

struct SpectrogramPlan::Scratch {
    std::vector<double> samples, power;
};

// Converts `frames` interleaved frames (format of `pcm`, from its first byte)
// into the strips' samples: strip s at out + s * stride. 8-bit: (x - 128) /
// 128; 16-, 24-, 32-bit: x / 2^(bits - 1); the mix is the channels' mean.
void ConvertStrips(const SpectrogramPlan& plan, const std::uint8_t* data, int bitsPerSample,
                   std::size_t frames, double* out, std::size_t stride);

// The levels of a whole picture, column by column, filled by worker threads
// while readers look at the columns already marked done.
class SpectrogramLevels {
  public:
    // `rows`: levels per column (every strip's rows).
    SpectrogramLevels(int columns, int rows);
    int columns() const { return columns_; }
    int rows() const { return rows_; }
    // The column's levels once computed, else null (acquire order).
    const float* Column(int c) const;
    bool AllDone() const;

    // Computes every column not done yet that the source allows, the calling
    // thread and (threads > 1) the shared pool taking the next few columns in
    // turn; stops early when *cancel becomes true. Returns the number of
    // columns still missing. Not for the GUI thread when threads > 1.
    int Compute(const SpectrogramPlan& plan, const SpectrogramSource& source, int threads,
                const std::atomic<bool>* cancel);

    // Computes column c unless it is done; true once it is done.
    bool ComputeColumn(const SpectrogramPlan& plan, const SpectrogramSource& source, int c,
                       SpectrogramPlan::Scratch& scratch, const std::atomic<bool>* cancel);

    // Stores a finished column (any thread).
    float* ColumnStorage(int c);
    void MarkDone(int c);

  private:
    int columns_, rows_;
    std::vector<float> levels_;
    std::unique_ptr<std::atomic<std::uint8_t>[]> done_;
};

// One pass over a picture's missing columns on a worker pool, in short tasks
// of a few columns each, so that a shared pool stays fair to its other users
// and a stop takes effect within one FFT frame. The constructor, Stop and the
// queries are called from one thread (the GUI's); the tasks run on the pool.
class SpectrogramRun {
  public:
    // Starts `chains` chains of tasks (at least one); each task computes the
    // next few columns not taken yet and queues its successor.
    SpectrogramRun(WorkerPool& pool, std::shared_ptr<const SpectrogramPlan> plan,
                   std::shared_ptr<SpectrogramLevels> levels, const SpectrogramSource& source,
                   int chains);
    // Stops the run.
    ~SpectrogramRun();
    SpectrogramRun(const SpectrogramRun&) = delete;
    SpectrogramRun& operator=(const SpectrogramRun&) = delete;

    // No task starts another FFT frame; returns once the frames being
    // computed are done. Afterwards no task reads the source any more; tasks
    // still queued on the pool end at once when they run.
    void Stop();
    // Tasks of this run queued or running.
    bool Busy() const;

  private:
    struct State;
    static void Step(const std::shared_ptr<State>& state, int chain);
    std::shared_ptr<State> state_;
};

// The picture of PCM streamed in file order, computed as it arrives: the
// frames whose samples are all there go to the pool in small jobs, so that
// only a few FFTs' worth of samples is held, however long the recording.
//
// Push and Finish run on one thread (the decoder's streaming thread, then
// the caller of Finish); the jobs run on the pool. The plan is laid out for
// the expected length; the end of the stream gives the true one, which
// places the last frames.
class SpectrogramStream {
  public:
    SpectrogramStream(const SpectrogramPlan& plan, int bitsPerSample, WorkerPool& pool);
    ~SpectrogramStream();  // waits for the jobs in flight
    SpectrogramStream(const SpectrogramStream&) = delete;
    SpectrogramStream& operator=(const SpectrogramStream&) = delete;

    // Takes the next `frames` interleaved frames.
    void Push(const std::uint8_t* data, std::size_t frames);
    // The recording ended (its length is the frames pushed): computes what
    // is left and waits for every job. The levels are then complete.
    void Finish();

    std::uint64_t framesPushed() const { return pushed_; }
    const SpectrogramLevels& levels() const { return levels_; }
    // Peak of the samples held at once (frames per strip), for tests.
    std::size_t peakHeldFrames() const { return peakHeld_; }

  private:
    struct Job;
    void Dispatch(std::uint64_t length, bool final);
    void Launch(std::unique_ptr<Job> job);
    void Retire(bool all);
    void MergeJob(Job& job);

    const SpectrogramPlan& plan_;
    const int bits_;
    WorkerPool& pool_;
    SpectrogramLevels levels_;
    std::uint64_t pushed_ = 0;
    // Samples of frames [heldFrom_, heldFrom_ + heldFrames_) per strip,
    // strip s at s * capacity_. Jobs share the block they read; new samples
    // go to a fresh block then, which starts at keepFrom_.
    std::shared_ptr<double[]> held_;
    bool heldLent_ = false;  // a job reads the block
    std::uint64_t heldFrom_ = 0, keepFrom_ = 0;
    std::size_t heldFrames_ = 0, capacity_ = 0, peakHeld_ = 0;
    // The next frame to dispatch: column and frame within it.
    int nextColumn_ = 0, nextFrame_ = 0;
    // Columns not yet finished, from finishedUpTo_, with their maxima.
    int finishedUpTo_ = 0;
    int launchedUpTo_ = 0;  // columns below this are wholly in launched jobs
    std::vector<std::unique_ptr<SpectrogramPlan::Column>> open_;
    std::unique_ptr<Job> pending_;  // filling, not handed out yet
    std::vector<std::unique_ptr<Job>> inFlight_;
};
}  // namespace vurma
