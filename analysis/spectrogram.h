// The spectrogram of a whole recording: frames half an FFT apart (or closer),
// windowed and transformed as the analysis pass does, reduced to one level
// per pixel with the max rule, on a linear or logarithmic frequency axis.
// Toolkit-free; the picture around it is drawn by display/.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sample_store.h"
#include "settings.h"

namespace vurma {

class WorkerPool;

inline constexpr double kLogAxisMinHz = 20.0;  // lower end of the log axis
inline constexpr double kDefaultFloorDb = -120.0;
inline constexpr double kDefaultTopDb = 0.0;

struct SpectrogramSettings {
    int fftIndex = kDefaultFftIndex;
    int windowIndex = kDefaultWindowIndex;
    bool logFrequency = false;
    double topDb = kDefaultTopDb;
    double floorDb = kDefaultFloorDb;
};

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
// edge) and back. Linear: 0 Hz .. Nyquist; log: kLogAxisMinHz .. Nyquist.
struct FrequencyAxis {
    bool log = false;
    double maxHz = 22050;
    int rows = 1;
    double minHz() const { return log ? kLogAxisMinHz : 0.0; }
    double HzAt(double y) const;
    double YOf(double hz) const;
};

// One picture's worth of work: which frames each column covers and which
// bins each row takes. Read-only once built, so any number of threads share it.
class SpectrogramPlan {
  public:
    // Columns cover frames [firstFrame, lastFrame) in equal spans.
    SpectrogramPlan(const SpectrogramSettings& settings, int sampleRate, double firstFrame,
                    double lastFrame, int columns, int rows);

    int columns() const { return columns_; }
    int rows() const { return rows_; }
    int fftSize() const { return 1 << exponent_; }
    unsigned exponent() const { return exponent_; }
    const FrequencyAxis& axis() const { return axis_; }
    double FrameAtX(double x) const { return first_ + x * span_; }
    double XOfFrame(double frame) const { return (frame - first_) / span_; }

    // Levels of column c, top row first, into out[0..rows-1]: the highest dB
    // of the frames whose centres lie in the column (at least the frame
    // centred on it) and of the bins in each row (at least the nearest bin).
    // Columns past the recording get NaN. Returns false and writes nothing
    // while the frames it needs are not captured yet, or when *cancel (if
    // given) becomes true; it is checked before each FFT frame.
    struct Scratch;
    bool ComputeColumn(const SpectrogramSource& source, int c, Scratch& scratch, float* out,
                       const std::atomic<bool>* cancel = nullptr) const;

  private:
    unsigned exponent_;
    int columns_, rows_;
    double first_, span_;  // frames per column
    FrequencyAxis axis_;
    std::vector<double> window_;
    std::vector<int> binLo_, binHi_;  // per row, top first
};

// Per-thread working storage: ComputeSpectrum writes its work arrays, so each
// thread needs its own.
struct SpectrogramPlan::Scratch {
    std::vector<double> frame;
    std::vector<double> maxDb;
    std::vector<double> db, re, im;
};

// The levels of a whole picture, column by column, filled by worker threads
// while readers look at the columns already marked done.
class SpectrogramLevels {
  public:
    SpectrogramLevels(int columns, int rows);
    int columns() const { return columns_; }
    int rows() const { return rows_; }
    // The column's levels once computed, else null (acquire order).
    const float* Column(int c) const;
    bool AllDone() const;

    // Computes every column not done yet that the source allows, on `threads`
    // threads, each taking the next few columns in turn; stops early when
    // *cancel becomes true. Returns the number of columns still missing.
    int Compute(const SpectrogramPlan& plan, const SpectrogramSource& source, int threads,
                const std::atomic<bool>* cancel);
    // Computes column c unless it is done; true once it is done.
    bool ComputeColumn(const SpectrogramPlan& plan, const SpectrogramSource& source, int c,
                       SpectrogramPlan::Scratch& scratch, const std::atomic<bool>* cancel);

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

}  // namespace vurma
