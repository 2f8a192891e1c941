// A scriptable engine for tests and benchmarks (never linked into the
// program): files with chosen formats and lengths, any call failed with a
// chosen result, a log of every call, samples fed to the grabber's callback
// and events posted on demand. Pins connect by the same rules as the real
// graph's (media/connection_rules.h). No threads of its own: everything
// happens synchronously on the caller's thread (the window loads on a
// background thread; a hanging file holds that thread until released).
//
// Call names in the log and for FailCall:
//   "Engine.<Method>"          factory calls (CreateGraphBuilder, CreateDevEnum, ...)
//   "Graph.<Method>"           the graph and its faces (RenderFile, Connect, Run,
//                              GetDuration, put_MessageDrain, SetNotifyCallback, ...)
//   "<filter>.<Method>"        EnumPins, QueryFilterInfo, QuerySampleGrabber, and the
//                              grabber's SetOneShot, SetBufferSamples, SetCallback
//   "<filter>.<pin>.<Method>"  ConnectedTo, EnumMediaTypes, QueryPinInfo
//   "MediaTypes.Next", "DevEnum.CreateClassEnumerator", "Rot.Register", "Rot.Revoke"
//   "Decode.Start", "Decode.Stop"  the capture decode (FeedSample goes to it while it runs)
// A rendered file holds the filters "Source", "Decoder" (pins "In", "Out" and,
// with video, "Video"), "AudioRenderer" (pin "In") and, with video, "VideoRenderer".
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "media/connection_rules.h"
#include "media/engine.h"
#include "media/grabber_callback.h"

namespace vurma::media {

struct FakeFile {
    HRESULT renderResult = S_OK;  // negative: RenderFile fails with it
    bool hasAudio = true;
    bool hasVideo = false;
    WaveFormat format{2, 16, 44100};
    std::int64_t duration = 30000000;  // 100 ns units
    HRESULT durationResult = S_OK;     // negative: GetDuration fails with it
    std::string renderReason{};        // the decoder's reason when RenderFile fails
    bool renderHangs = false;          // RenderFile waits until ReleaseRenders (a stuck preroll)
};

struct FakeCategoryEntry {
    std::string friendlyName;
    std::string clsid;  // "" fails ClsidFromString
    bool bindFails = false;
    bool hasFriendlyName = true;
    bool hasClsid = true;
};

class FakeEngine;
class FakeFilter;

class FakePin final : public IPin, public std::enable_shared_from_this<FakePin> {
  public:
    FakePin(FakeEngine* engine, FakeFilter* owner, std::string name, PinDirection dir,
            std::vector<MediaType> types = {});
    HRESULT QueryDirection(PinDirection* dir) override;
    HRESULT QueryPinInfo(PinInfo* info) override;
    HRESULT ConnectedTo(std::shared_ptr<IPin>* peer) override;
    HRESULT EnumMediaTypes(std::shared_ptr<IEnumMediaTypes>* types) override;

    std::string name;
    PinDirection dir;
    std::vector<MediaType> types;
    std::weak_ptr<FakePin> peer;
    FakeFilter* owner;  // the filter that holds this pin

  private:
    std::string Call(const char* method) const;
    FakeEngine* engine_;
};

class FakeFilter final : public IBaseFilter,
                         public ISampleGrabber,
                         public std::enable_shared_from_this<FakeFilter> {
  public:
    FakeFilter(FakeEngine* engine, std::string name, bool grabber = false);
    ~FakeFilter() override;
    std::shared_ptr<FakePin> AddPin(std::string pinName, PinDirection dir,
                                    std::vector<MediaType> types = {});

    HRESULT QueryFilterInfo(FilterInfo* info) override;
    HRESULT EnumPins(std::shared_ptr<IEnumPins>* pins) override;
    HRESULT QuerySampleGrabber(std::shared_ptr<ISampleGrabber>* grabber) override;
    HRESULT SetOneShot(bool oneShot) override;
    HRESULT SetBufferSamples(bool bufferThem) override;
    HRESULT SetCallback(ISampleGrabberCB* callback, int whichMethod) override;

    std::string name;
    bool grabber;
    std::vector<std::shared_ptr<FakePin>> pins;
    ISampleGrabberCB* callback = nullptr;  // one reference held

  private:
    FakeEngine* engine_;
};

class FakeGraph;

// The capture decode: samples are fed and the end posted by the test.
class FakeAudioDecode final : public IAudioDecode {
  public:
    explicit FakeAudioDecode(FakeEngine* engine) : engine_(engine) {}
    ~FakeAudioDecode() override;
    HRESULT Start(const std::string& utf8Path, const WaveFormat& format, ISampleGrabberCB* callback,
                  std::function<void(HRESULT)> ended) override;
    void Stop() override;
    std::uint64_t Progress() const override;

    // False when the decode is not running.
    bool Feed(double time, const std::vector<std::uint8_t>& bytes, bool preroll,
              bool discontinuity);
    bool End(HRESULT hr);
    bool running() const;
    std::string path;
    WaveFormat format;

  private:
    FakeEngine* engine_;
    mutable std::mutex mutex_;
    ISampleGrabberCB* callback_ = nullptr;  // one reference while running
    std::function<void(HRESULT)> ended_;
    std::uint64_t fed_ = 0;
};

class FakeEngine final : public IEngine {
  public:
    FakeEngine();
    ~FakeEngine() override;

    // Scripting.
    void AddFile(const std::string& path, FakeFile file);
    // Fails the named call with `hr`: skips the first `after` calls, then
    // fails `count` of them (-1: every one).
    void FailCall(const std::string& call, HRESULT hr, int after = 0, int count = -1);
    void ClearFailures();
    std::vector<std::string> calls() const;
    void ClearCalls();
    int CallCount(const std::string& call) const;
    std::vector<FakeCategoryEntry>& category() { return category_; }

    // The graph created last (null when none is alive).
    std::shared_ptr<FakeGraph> graph() const { return current_.lock(); }
    int liveGraphs() const;

    // Hands a sample to the running capture decode or else to the grabber
    // callback of the current graph when its input is connected. False when
    // no callback would receive it.
    bool FeedSample(double time, const std::vector<std::uint8_t>& bytes, bool preroll = false,
                    bool discontinuity = false);
    // Queues an event on the current graph and calls its notify function.
    void PostEvent(long code, std::intptr_t param1 = 0, std::intptr_t param2 = 0);
    void PostComplete() { PostEvent(EC_COMPLETE); }
    // Ends the running capture decode: S_OK at the end of the stream, a
    // failure for a decoder error. False when none runs.
    bool EndCapture(HRESULT hr = S_OK);
    // The capture decode created last (null when none is alive).
    std::shared_ptr<FakeAudioDecode> decode() const;

    // Every later call of this name (as logged) waits until ReleaseRenders:
    // a state change or seek stuck inside the media framework.
    void HangCall(const std::string& call);
    // Lets every RenderFile held by a hanging file, and every call held by
    // HangCall, go on (and those to come).
    void ReleaseRenders();
    // Calls waiting in a hanging file or a hung call now.
    int rendersHeld() const;
    void HoldRender();

    // Called with the name of every engine call before it runs (a test's
    // probe of what the program holds at that moment); may be empty.
    std::function<void(const std::string& call)> onCall;

    // Name and cookie of the last registration; cookies still registered.
    std::string registeredName;
    std::vector<std::uint32_t> registered;

    // IEngine
    HRESULT CreateGraphBuilder(std::shared_ptr<IGraphBuilder>* out) override;
    HRESULT CreateCaptureGraphBuilder(std::shared_ptr<ICaptureGraphBuilder2>* out) override;
    HRESULT CreateDevEnum(std::shared_ptr<ICreateDevEnum>* out) override;
    HRESULT GetRunningObjectTable(std::shared_ptr<IRunningObjectTable>* out) override;
    HRESULT ClsidFromString(const std::string& text, Clsid* clsid) override;
    HRESULT CreateFilter(const Clsid& clsid, std::shared_ptr<IBaseFilter>* out) override;
    HRESULT CreateAudioDecode(std::shared_ptr<IAudioDecode>* out) override;

    // Logs the call and returns its scripted failure, or S_OK.
    HRESULT Hook(const std::string& call);
    const FakeFile* FindFile(const std::string& path) const;

  private:
    struct Failure {
        HRESULT hr;
        int after;
        int count;
    };
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::multimap<std::string, Failure> failures_;
    std::map<std::string, FakeFile> files_;
    std::vector<FakeCategoryEntry> category_;
    std::weak_ptr<FakeGraph> current_;
    std::weak_ptr<FakeAudioDecode> decode_;  // guarded by mutex_
    std::vector<std::weak_ptr<FakeGraph>> graphs_;
    std::uint32_t nextCookie_ = 1;
    std::condition_variable renderCv_;
    int rendersHeld_ = 0;          // guarded by mutex_
    bool rendersGo_ = false;       // guarded by mutex_
    std::set<std::string> hangs_;  // guarded by mutex_
};

class FakeGraph final : public IGraphBuilder,
                        public IMediaControl,
                        public IMediaSeeking,
                        public IBasicVideo,
                        public IVideoWindow,
                        public IMediaEventEx,
                        public IBasicAudio,
                        public IVideoOutput,
                        public std::enable_shared_from_this<FakeGraph> {
  public:
    explicit FakeGraph(FakeEngine* engine) : engine_(engine) {}

    // IGraphBuilder
    HRESULT QueryMediaControl(std::shared_ptr<IMediaControl>* out) override;
    HRESULT QueryMediaSeeking(std::shared_ptr<IMediaSeeking>* out) override;
    HRESULT QueryBasicVideo(std::shared_ptr<IBasicVideo>* out) override;
    HRESULT QueryVideoWindow(std::shared_ptr<IVideoWindow>* out) override;
    HRESULT QueryMediaEvent(std::shared_ptr<IMediaEventEx>* out) override;
    HRESULT QueryBasicAudio(std::shared_ptr<IBasicAudio>* out) override;
    HRESULT QueryVideoOutput(std::shared_ptr<IVideoOutput>* out) override;
    HRESULT RenderFile(const std::string& utf8Path) override;
    HRESULT EnumFilters(std::shared_ptr<IEnumFilters>* filters) override;
    HRESULT AddFilter(const std::shared_ptr<IBaseFilter>& filter, const std::string& name) override;
    HRESULT RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) override;
    HRESULT Disconnect(const std::shared_ptr<IPin>& pin) override;
    HRESULT Connect(const std::shared_ptr<IPin>& out, const std::shared_ptr<IPin>& in) override;
    HRESULT Render(const std::shared_ptr<IPin>& out) override;
    std::string RenderFailureReason() override { return renderReason_; }
    void SetUnsynchronised(bool on) override { unsynchronised = on; }
    // IMediaControl
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(long timeoutMs, FilterState* state) override;
    HRESULT StopWhenReady() override;
    // IMediaSeeking
    HRESULT GetTimeFormat(TimeFormat* format) override;
    HRESULT SetTimeFormat(TimeFormat format) override;
    HRESULT GetDuration(std::int64_t* duration) override;
    HRESULT GetAvailable(std::int64_t* earliest, std::int64_t* latest) override;
    HRESULT GetPositions(std::int64_t* current, std::int64_t* stop) override;
    HRESULT SetPositions(std::int64_t* current, int currentFlags, std::int64_t* stop,
                         int stopFlags) override;
    // IVideoWindow
    HRESULT put_AutoShow(bool autoShow) override;
    HRESULT put_MessageDrain(WindowHandle window) override;
    HRESULT put_Owner(WindowHandle owner) override;
    HRESULT put_WindowStyle(long style) override;
    HRESULT SetWindowPosition(long left, long top, long width, long height) override;
    HRESULT put_Visible(bool visible) override;
    HRESULT SetWindowForeground(bool focus) override;
    // IMediaEventEx
    HRESULT SetNotifyCallback(std::function<void()> notify) override;
    HRESULT GetEvent(long* code, std::intptr_t* param1, std::intptr_t* param2,
                     long timeoutMs) override;
    HRESULT FreeEventParams(long code, std::intptr_t param1, std::intptr_t param2) override;
    // IBasicAudio
    HRESULT get_Volume(long* volume) override;
    HRESULT put_Volume(long volume) override;
    // IVideoOutput
    void SetFrameNotify(std::function<void()> notify) override;
    bool TakeFrame(VideoFrame* frame) override;

    // Test access.
    std::shared_ptr<FakeFilter> Filter(const std::string& name) const;
    bool FeedSample(double time, const std::vector<std::uint8_t>& bytes, bool preroll,
                    bool discontinuity);
    void PostEvent(long code, std::intptr_t param1, std::intptr_t param2);
    void PostFrame(VideoFrame frame);

    std::vector<std::shared_ptr<FakeFilter>> filters;
    FilterState state = FilterState::Stopped;
    std::int64_t position = 0;
    std::int64_t stopPosition = 0;
    long volume = 0;
    bool unsynchronised = false;
    bool hasVideo = false;
    bool visible = false;
    WindowHandle owner = 0;
    long windowStyle = 0;
    long windowRect[4] = {0, 0, 0, 0};
    std::string renderedPath;
    std::function<void()> notify;

  private:
    // The pin as the shared connection rules see it.
    PinFacts Facts(const FakePin& pin) const;
    std::shared_ptr<FakeFilter> NewFilter(const std::string& name);
    FakeEngine* engine_;
    std::int64_t duration_ = 0;
    HRESULT durationResult_ = S_OK;
    std::string renderReason_;
    std::mutex eventMutex_;
    std::vector<long> events_;
    std::function<void()> frameNotify_;
    std::vector<VideoFrame> frames_;
};

}  // namespace vurma::media
