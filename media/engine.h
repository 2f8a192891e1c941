// Our own small media interface: the graph, its filters and pins, the
// category of creatable filters, the sample grabber, run/pause/stop, seeking
// in 100 ns units, events, the video window and frames, and the volume.
// Shaped after the classic filter-graph interfaces so that diagnostics name
// the calls the program makes. Implementations: GStreamer (gst_engine.cpp)
// and the scriptable fake of the tests (tests/support/fake_engine.h).
//
// Objects are handed out as shared_ptr: holding one is holding a reference.
// A graph is used by one thread at a time: built and rendered on a load
// thread, then driven from the GUI thread (or the headless main thread), and
// destroyed on a background thread; calls that say so run elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "hresult.h"

namespace vurma::media {

class ISampleGrabberCB;

// Further result codes the engines return.
inline constexpr HRESULT E_NOT_CONNECTED = static_cast<HRESULT>(0x80040209u);
inline constexpr HRESULT E_ALREADY_CONNECTED = static_cast<HRESULT>(0x80040204u);
inline constexpr HRESULT E_CANNOT_RENDER = static_cast<HRESULT>(0x80040218u);
inline constexpr HRESULT E_CANNOT_CONNECT = static_cast<HRESULT>(0x80040217u);
inline constexpr HRESULT E_NOT_FOUND = static_cast<HRESULT>(0x80040216u);
inline constexpr HRESULT E_TIMEOUT = static_cast<HRESULT>(0x8004022Eu);
inline constexpr HRESULT E_CLASS_STRING = static_cast<HRESULT>(0x800401F3u);
inline constexpr HRESULT E_CLASS_NOT_REG = static_cast<HRESULT>(0x80040154u);
inline constexpr HRESULT S_STATE_INTERMEDIATE = static_cast<HRESULT>(0x00040237u);

// Graph event codes besides EC_COMPLETE.
inline constexpr long EC_ERRORABORT = 3;

// Names shared by the engines and the code that searches for them.
inline constexpr char kAudioRendererName[] = "AudioRenderer";
inline constexpr char kSampleGrabberName[] = "SampleGrabber";
inline constexpr char kGrabberInputPin[] = "Input";
inline constexpr char kGrabberOutputPin[] = "Output";

// A category of creatable filters and a class id within it: plain texts.
using CategoryId = std::string;
using Clsid = std::string;
inline constexpr char CLSID_LegacyAmFilterCategory[] = "LegacyAmFilterCategory";

enum class PinDirection { Input = 0, Output = 1 };

enum class FormatType { None, WaveFormatEx, VideoInfo };

// The audio fields of a wave format block.
struct WaveFormat {
    int channels = 0;
    int bitsPerSample = 0;
    int samplesPerSec = 0;  // Hz
};

struct MediaType {
    FormatType formatType = FormatType::None;
    WaveFormat wave;  // meaningful for FormatType::WaveFormatEx
};

struct FilterInfo {
    std::string name;  // UTF-8
};

struct PinInfo {
    std::string name;  // UTF-8
    PinDirection dir = PinDirection::Input;
};

enum class TimeFormat { None, MediaTime, Frame, Sample };

// Seeking flags.
inline constexpr int AM_SEEKING_NoPositioning = 0;
inline constexpr int AM_SEEKING_AbsolutePositioning = 1;

enum class FilterState { Stopped = 0, Paused = 1, Running = 2 };

// Video window style the program sets (child, clip siblings, clip children).
inline constexpr long kVideoWindowStyle = 0x46000000;

using WindowHandle = std::uintptr_t;

// Enumerators: Next hands out one item and returns S_OK, or S_FALSE at the
// end (item untouched). Skip returns S_FALSE when fewer items were left.
template <class T>
class IEnum {
  public:
    virtual ~IEnum() = default;
    virtual HRESULT Next(T* item) = 0;
    virtual HRESULT Skip(unsigned long count) = 0;
    virtual HRESULT Reset() = 0;
};

template <class T>
class VectorEnum final : public IEnum<T> {
  public:
    explicit VectorEnum(std::vector<T> items) : items_(std::move(items)) {}
    HRESULT Next(T* item) override {
        if (item == nullptr) return E_POINTER;
        if (pos_ >= items_.size()) return S_FALSE;
        *item = items_[pos_++];
        return S_OK;
    }
    HRESULT Skip(unsigned long count) override {
        const std::size_t left = items_.size() - pos_;
        if (count > left) {
            pos_ = items_.size();
            return S_FALSE;
        }
        pos_ += count;
        return S_OK;
    }
    HRESULT Reset() override {
        pos_ = 0;
        return S_OK;
    }

  private:
    std::vector<T> items_;
    std::size_t pos_ = 0;
};

class IPin;
class IBaseFilter;
class IMoniker;
using IEnumPins = IEnum<std::shared_ptr<IPin>>;
using IEnumFilters = IEnum<std::shared_ptr<IBaseFilter>>;
using IEnumMediaTypes = IEnum<MediaType>;
using IEnumMoniker = IEnum<std::shared_ptr<IMoniker>>;

class IPin {
  public:
    virtual ~IPin() = default;
    virtual HRESULT QueryDirection(PinDirection* dir) = 0;
    virtual HRESULT QueryPinInfo(PinInfo* info) = 0;
    // E_NOT_CONNECTED when the pin has no peer.
    virtual HRESULT ConnectedTo(std::shared_ptr<IPin>* peer) = 0;
    // The pin's preferred media types, in order.
    virtual HRESULT EnumMediaTypes(std::shared_ptr<IEnumMediaTypes>* types) = 0;
};

// The grabber's control face. The grabber takes a reference to the callback
// (AddRef) and drops it when replaced or when the grabber goes away.
class ISampleGrabber {
  public:
    virtual ~ISampleGrabber() = default;
    virtual HRESULT SetOneShot(bool oneShot) = 0;
    virtual HRESULT SetBufferSamples(bool bufferThem) = 0;
    // whichMethod 0: SampleCB per buffer (the only mode the program uses).
    virtual HRESULT SetCallback(ISampleGrabberCB* callback, int whichMethod) = 0;
};

class IBaseFilter {
  public:
    virtual ~IBaseFilter() = default;
    virtual HRESULT QueryFilterInfo(FilterInfo* info) = 0;
    virtual HRESULT EnumPins(std::shared_ptr<IEnumPins>* pins) = 0;
    // E_NOINTERFACE unless the filter is a sample grabber.
    virtual HRESULT QuerySampleGrabber(std::shared_ptr<ISampleGrabber>* grabber) = 0;
};

class IPropertyBag {
  public:
    virtual ~IPropertyBag() = default;
    // Reads a text property ("FriendlyName", "CLSID").
    virtual HRESULT Read(const std::string& property, std::string* value) = 0;
};

class IMoniker {
  public:
    virtual ~IMoniker() = default;
    virtual HRESULT BindToStorage(std::shared_ptr<IPropertyBag>* bag) = 0;
};

class ICreateDevEnum {
  public:
    virtual ~ICreateDevEnum() = default;
    virtual HRESULT CreateClassEnumerator(const CategoryId& category,
                                          std::shared_ptr<IEnumMoniker>* monikers, int flags) = 0;
};

class IMediaControl {
  public:
    virtual ~IMediaControl() = default;
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
    // Waits up to timeoutMs for a state change to finish; S_STATE_INTERMEDIATE
    // when it has not.
    virtual HRESULT GetState(long timeoutMs, FilterState* state) = 0;
    // Ends stopped with the current frame cued.
    virtual HRESULT StopWhenReady() = 0;
};

class IMediaSeeking {
  public:
    virtual ~IMediaSeeking() = default;
    virtual HRESULT GetTimeFormat(TimeFormat* format) = 0;
    virtual HRESULT SetTimeFormat(TimeFormat format) = 0;
    // Times in 100 ns units.
    virtual HRESULT GetDuration(std::int64_t* duration) = 0;
    virtual HRESULT GetAvailable(std::int64_t* earliest, std::int64_t* latest) = 0;
    virtual HRESULT GetPositions(std::int64_t* current, std::int64_t* stop) = 0;
    // A null pointer or AM_SEEKING_NoPositioning leaves that position alone.
    virtual HRESULT SetPositions(std::int64_t* current, int currentFlags, std::int64_t* stop,
                                 int stopFlags) = 0;
};

class IMediaEventEx {
  public:
    virtual ~IMediaEventEx() = default;
    // `notify` may be called on any thread whenever events are queued; it
    // must only post a message. An empty function stops notification.
    virtual HRESULT SetNotifyCallback(std::function<void()> notify) = 0;
    // Never waits when timeoutMs is 0; E_ABORT-like failure when empty.
    virtual HRESULT GetEvent(long* code, std::intptr_t* param1, std::intptr_t* param2,
                             long timeoutMs) = 0;
    virtual HRESULT FreeEventParams(long code, std::intptr_t param1, std::intptr_t param2) = 0;
};

// The video panel's view of the graph's video. Every call fails with
// E_NOINTERFACE when the rendered file has no video.
class IVideoWindow {
  public:
    virtual ~IVideoWindow() = default;
    virtual HRESULT put_AutoShow(bool autoShow) = 0;
    virtual HRESULT put_MessageDrain(WindowHandle window) = 0;
    virtual HRESULT put_Owner(WindowHandle owner) = 0;
    virtual HRESULT put_WindowStyle(long style) = 0;
    virtual HRESULT SetWindowPosition(long left, long top, long width, long height) = 0;
    virtual HRESULT put_Visible(bool visible) = 0;
    virtual HRESULT SetWindowForeground(bool focus) = 0;
};

// One decoded video picture, 4 bytes per pixel R, G, B, unused.
struct VideoFrame {
    int width = 0;
    int height = 0;
    int stride = 0;                   // bytes per row
    std::vector<std::uint8_t> bytes;  // stride * height
    std::int64_t time = 0;            // stream time, 100 ns units
};

// Frames for the video panel. The engine keeps only the latest frame.
class IVideoOutput {
  public:
    virtual ~IVideoOutput() = default;
    // Called on a streaming thread when a new frame is waiting; it must only
    // post a message to the GUI thread, which then calls TakeFrame.
    virtual void SetFrameNotify(std::function<void()> notify) = 0;
    // GUI thread. False when no frame arrived since the last call.
    virtual bool TakeFrame(VideoFrame* frame) = 0;
};

class IBasicVideo {
  public:
    virtual ~IBasicVideo() = default;
};

class IBasicAudio {
  public:
    virtual ~IBasicAudio() = default;
    // Hundredths of a decibel, -10000 (silence) to 0 (full). E_NOTIMPL when
    // the graph has no volume control.
    virtual HRESULT get_Volume(long* volume) = 0;
    virtual HRESULT put_Volume(long volume) = 0;
};

class ICaptureGraphBuilder2 {
  public:
    virtual ~ICaptureGraphBuilder2() = default;
};

class IGraphBuilder {
  public:
    virtual ~IGraphBuilder() = default;

    // The graph's other faces.
    virtual HRESULT QueryMediaControl(std::shared_ptr<IMediaControl>* out) = 0;
    virtual HRESULT QueryMediaSeeking(std::shared_ptr<IMediaSeeking>* out) = 0;
    virtual HRESULT QueryBasicVideo(std::shared_ptr<IBasicVideo>* out) = 0;
    virtual HRESULT QueryVideoWindow(std::shared_ptr<IVideoWindow>* out) = 0;
    virtual HRESULT QueryMediaEvent(std::shared_ptr<IMediaEventEx>* out) = 0;
    virtual HRESULT QueryBasicAudio(std::shared_ptr<IBasicAudio>* out) = 0;
    virtual HRESULT QueryVideoOutput(std::shared_ptr<IVideoOutput>* out) = 0;

    // Adds source, decoders and default renderers for the file (UTF-8 path).
    // Waits for the file's first data: call it off the GUI thread.
    virtual HRESULT RenderFile(const std::string& utf8Path) = 0;
    // Why the last RenderFile failed, in the decoder's own words (UTF-8);
    // empty when it gave no reason.
    virtual std::string RenderFailureReason() = 0;
    virtual HRESULT EnumFilters(std::shared_ptr<IEnumFilters>* filters) = 0;
    virtual HRESULT AddFilter(const std::shared_ptr<IBaseFilter>& filter,
                              const std::string& name) = 0;
    virtual HRESULT RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) = 0;
    virtual HRESULT Disconnect(const std::shared_ptr<IPin>& pin) = 0;
    virtual HRESULT Connect(const std::shared_ptr<IPin>& out, const std::shared_ptr<IPin>& in) = 0;
    // Adds a renderer behind an output pin.
    virtual HRESULT Render(const std::shared_ptr<IPin>& out) = 0;

    // Unsynchronised: decode as fast as possible, no sound (headless modes).
    // Takes effect for files rendered afterwards.
    virtual void SetUnsynchronised(bool on) = 0;
};

// Registration of a graph for outside inspection. The GStreamer engine
// writes a dot file of the graph where GST_DEBUG_DUMP_DOT_DIR is set.
class IRunningObjectTable {
  public:
    virtual ~IRunningObjectTable() = default;
    virtual HRESULT Register(const std::string& itemName,
                             const std::shared_ptr<IGraphBuilder>& graph,
                             std::uint32_t* cookie) = 0;
    virtual HRESULT Revoke(std::uint32_t cookie) = 0;
};

// An unsynchronised decode of a file's first audio stream straight into a
// grabber callback, apart from the graph: the capture. Video and other
// streams are demuxed and dropped, never decoded.
class IAudioDecode {
  public:
    virtual ~IAudioDecode() = default;
    // Starts decoding `utf8Path` into `callback`, in `format` (the format the
    // load read), on a streaming thread. `ended` is called once, on any
    // thread, with S_OK at the end of the stream or a failure code; it must
    // only record and post. A negative result: nothing started.
    virtual HRESULT Start(const std::string& utf8Path, const WaveFormat& format,
                          ISampleGrabberCB* callback, std::function<void(HRESULT)> ended) = 0;
    // Ends the decode; once it returns neither `callback` nor `ended` is
    // called. Never waits for the framework: a pipeline that will not stop
    // is left to a background thread.
    virtual void Stop() = 0;
    // Buffers decoded so far (any thread): tells a slow decode from a stalled one.
    virtual std::uint64_t Progress() const = 0;
};

// The factory of graph objects.
class IEngine {
  public:
    virtual ~IEngine() = default;
    virtual HRESULT CreateGraphBuilder(std::shared_ptr<IGraphBuilder>* out) = 0;
    virtual HRESULT CreateCaptureGraphBuilder(std::shared_ptr<ICaptureGraphBuilder2>* out) = 0;
    virtual HRESULT CreateDevEnum(std::shared_ptr<ICreateDevEnum>* out) = 0;
    virtual HRESULT GetRunningObjectTable(std::shared_ptr<IRunningObjectTable>* out) = 0;
    // Parses a category entry's class id text.
    virtual HRESULT ClsidFromString(const std::string& text, Clsid* clsid) = 0;
    virtual HRESULT CreateFilter(const Clsid& clsid, std::shared_ptr<IBaseFilter>* out) = 0;
    virtual HRESULT CreateAudioDecode(std::shared_ptr<IAudioDecode>* out) = 0;
};

}  // namespace vurma::media
