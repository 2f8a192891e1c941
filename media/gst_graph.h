// The engine on GStreamer. A rendered file is a pipeline whose source and
// decoders uridecodebin chooses; the filters and pins the program rewires are
// a model over it: "Source", "Decoder" (pins "Audio", "Video"),
// "AudioRenderer" and "VideoRenderer". While the program rewires the model
// the decoded audio is held back at a blocked pad; the first transport call
// links the audio branch as the model says (decoder, grabber, renderer) and
// lets it flow, so the grabber sees the file from its first buffer.
// This header holds the graph's class and its state changes; gst_engine.cpp
// its bus, pads and video frames; gst_render.cpp the rendering of a file and
// the linking of the audio branch. Internal to the engine.
#pragma once

#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>
#include <gst/base/gstbaseparse.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>

#include "connection_rules.h"
#include "engine.h"
#include "gst_filters.h"
#include "gst_internal.h"
#include "gst_sample_grabber.h"
#include "media_session.h"

namespace vurma::media {

inline constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
inline constexpr HRESULT E_NOT_STOPPED = static_cast<HRESULT>(0x80040224u);
inline constexpr auto kRenderTimeout = std::chrono::seconds(20);

inline GstElement* Make(const char* factory, const char* name = nullptr) {
    GstElement* e = gst_element_factory_make(factory, name);
    if (e == nullptr) std::fprintf(stderr, "vurma: GStreamer element %s is missing\n", factory);
    return e;
}

class GstGraph final : public IGraphBuilder,
                       public IMediaControl,
                       public IMediaSeeking,
                       public IBasicVideo,
                       public IVideoWindow,
                       public IMediaEventEx,
                       public IBasicAudio,
                       public IVideoOutput,
                       public std::enable_shared_from_this<GstGraph> {
  public:
    GstGraph() = default;
    ~GstGraph() override {
        if (pipeline_ != nullptr) {
            {
                std::lock_guard lock(busContext_->mutex);
                busContext_->graph = nullptr;
            }
            gst_element_set_state(pipeline_, GST_STATE_NULL);
            GstBus* bus = gst_element_get_bus(pipeline_);
            gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
            gst_object_unref(bus);
            if (audioTail_ != nullptr) gst_object_unref(audioTail_);
            gst_object_unref(pipeline_);
        }
        filters_.clear();
    }

    void SetRotName(std::string name) { rotName_ = std::move(name); }

    // ---- faces
    template <class Face>
    HRESULT Face_(std::shared_ptr<Face>* out) {
        if (out == nullptr) return E_POINTER;
        *out = std::shared_ptr<Face>(shared_from_this(), static_cast<Face*>(this));
        return S_OK;
    }
    HRESULT QueryMediaControl(std::shared_ptr<IMediaControl>* out) override { return Face_(out); }
    HRESULT QueryMediaSeeking(std::shared_ptr<IMediaSeeking>* out) override { return Face_(out); }
    HRESULT QueryBasicVideo(std::shared_ptr<IBasicVideo>* out) override { return Face_(out); }
    HRESULT QueryVideoWindow(std::shared_ptr<IVideoWindow>* out) override { return Face_(out); }
    HRESULT QueryMediaEvent(std::shared_ptr<IMediaEventEx>* out) override { return Face_(out); }
    HRESULT QueryBasicAudio(std::shared_ptr<IBasicAudio>* out) override { return Face_(out); }
    HRESULT QueryVideoOutput(std::shared_ptr<IVideoOutput>* out) override {
        if (!hasVideo_) return E_NOINTERFACE;
        return Face_(out);
    }

    // ---- rendering
    HRESULT RenderFile(const std::string& utf8Path) override;
    std::string RenderFailureReason() override {
        std::lock_guard lock(mutex_);
        return renderReason_;
    }
    HRESULT EnumFilters(std::shared_ptr<IEnumFilters>* out) override {
        if (out == nullptr) return E_POINTER;
        *out = std::make_shared<VectorEnum<std::shared_ptr<IBaseFilter>>>(
            std::vector<std::shared_ptr<IBaseFilter>>(filters_.begin(), filters_.end()));
        return S_OK;
    }
    HRESULT AddFilter(const std::shared_ptr<IBaseFilter>& filter,
                      const std::string& name) override {
        auto f = std::dynamic_pointer_cast<GFilter>(filter);
        if (f == nullptr) return E_POINTER;
        if (linked_) return E_NOT_STOPPED;
        if (std::find(filters_.begin(), filters_.end(), f) != filters_.end()) return E_FAIL;
        f->name = name;
        filters_.push_back(f);
        return S_OK;
    }
    HRESULT RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) override {
        if (filter == nullptr) return E_POINTER;
        if (linked_) return E_NOT_STOPPED;
        const auto it = std::find(filters_.begin(), filters_.end(), filter);
        if (it == filters_.end()) return E_NOT_FOUND;
        for (const auto& pin : (*it)->pins) {
            if (auto p = pin->peer.lock()) p->peer.reset();
            pin->peer.reset();
        }
        filters_.erase(it);
        return S_OK;
    }
    HRESULT Disconnect(const std::shared_ptr<IPin>& pin) override {
        auto p = std::dynamic_pointer_cast<GPin>(pin);
        if (p == nullptr) return E_POINTER;
        if (linked_) return E_NOT_STOPPED;
        if (p->peer.expired()) return S_FALSE;
        p->peer.reset();
        return S_OK;
    }
    HRESULT Connect(const std::shared_ptr<IPin>& out, const std::shared_ptr<IPin>& in) override {
        auto o = std::dynamic_pointer_cast<GPin>(out);
        auto i = std::dynamic_pointer_cast<GPin>(in);
        if (o == nullptr || i == nullptr) return E_POINTER;
        if (linked_) return E_NOT_STOPPED;
        const HRESULT hr = CheckConnect(Facts(*o), Facts(*i));
        if (Failed(hr)) return hr;
        const ConnectedTypes types = TypesAfterConnect(o->types, Facts(*i).role);
        i->types = types.input;
        if (types.grabberOutput) {
            if (auto grabOut = i->owner->Pin(kGrabberOutputPin)) grabOut->types = types.input;
        }
        Link(o, i);
        return S_OK;
    }
    HRESULT Render(const std::shared_ptr<IPin>& out) override {
        auto o = std::dynamic_pointer_cast<GPin>(out);
        if (o == nullptr) return E_POINTER;
        if (linked_) return E_NOT_STOPPED;
        const HRESULT hr = CheckRender(Facts(*o));
        if (Failed(hr)) return hr;
        auto renderer = std::make_shared<GFilter>(FilterKind::AudioRenderer, kAudioRendererName);
        Link(o, renderer->AddPin("In", PinDirection::Input, o->types));
        filters_.push_back(renderer);
        return S_OK;
    }
    void SetUnsynchronised(bool on) override { unsynchronised_ = on; }

    // ---- control
    HRESULT Run() override {
        if (pipeline_ == nullptr) return E_NOT_CONNECTED;
        LinkAudio();
        if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            return E_FAIL;
        }
        state_ = FilterState::Running;
        return S_OK;
    }
    HRESULT Pause() override {
        if (pipeline_ == nullptr) return E_NOT_CONNECTED;
        LinkAudio();
        if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
            return E_FAIL;
        }
        state_ = FilterState::Paused;
        return S_OK;
    }
    // Stopped keeps the pipeline paused, so that the position holds, seeks
    // take effect at once and the current picture stays.
    HRESULT Stop() override {
        if (pipeline_ == nullptr) return E_NOT_CONNECTED;
        if (linked_ &&
            gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
            return E_FAIL;
        }
        state_ = FilterState::Stopped;
        return S_OK;
    }
    HRESULT GetState(long timeoutMs, FilterState* out) override {
        if (out == nullptr) return E_POINTER;
        if (pipeline_ == nullptr) return E_NOT_CONNECTED;
        *out = state_;
        GstState current, pending;
        const GstStateChangeReturn r = gst_element_get_state(
            pipeline_, &current, &pending, static_cast<GstClockTime>(timeoutMs) * GST_MSECOND);
        if (r == GST_STATE_CHANGE_FAILURE) return E_FAIL;
        if (r == GST_STATE_CHANGE_ASYNC) return S_STATE_INTERMEDIATE;
        return S_OK;
    }
    HRESULT StopWhenReady() override {
        if (pipeline_ == nullptr) return E_NOT_CONNECTED;
        LinkAudio();
        if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
            return E_FAIL;
        }
        state_ = FilterState::Stopped;
        return S_OK;
    }

    // ---- seeking
    HRESULT GetTimeFormat(TimeFormat* out) override {
        if (out == nullptr) return E_POINTER;
        *out = TimeFormat::MediaTime;
        return S_OK;
    }
    HRESULT SetTimeFormat(TimeFormat format) override {
        return format == TimeFormat::MediaTime ? S_OK : E_NOTIMPL;
    }
    HRESULT GetDuration(std::int64_t* out) override {
        if (out == nullptr) return E_POINTER;
        const gint64 ns = QueryTime(GST_QUERY_DURATION);
        if (ns < 0) return E_FAIL;
        *out = ns / 100;
        length_ = *out;
        return S_OK;
    }
    HRESULT GetAvailable(std::int64_t* earliest, std::int64_t* latest) override {
        if (earliest == nullptr || latest == nullptr) return E_POINTER;
        std::int64_t duration = 0;
        const HRESULT hr = GetDuration(&duration);
        if (Failed(hr)) return hr;
        *earliest = 0;
        *latest = duration;
        return S_OK;
    }
    HRESULT GetPositions(std::int64_t* current, std::int64_t* stop) override {
        if (current == nullptr || stop == nullptr) return E_POINTER;
        if (pipeline_ == nullptr) return E_NOT_CONNECTED;
        gint64 ns = 0;
        if (linked_ && !gst_element_query_position(pipeline_, GST_FORMAT_TIME, &ns)) return E_FAIL;
        *current = ns / 100;
        // The length the load found: asking again could parse the whole
        // stream, on the thread that follows the position.
        const std::int64_t stopAt = stop_.load();
        *stop = stopAt >= 0 ? stopAt : std::max<std::int64_t>(length_.load(), 0);
        return S_OK;
    }
    HRESULT SetPositions(std::int64_t* current, int currentFlags, std::int64_t* stop,
                         int stopFlags) override {
        if (pipeline_ == nullptr) return E_NOT_CONNECTED;
        LinkAudio();
        const bool setCurrent =
            current != nullptr && currentFlags == AM_SEEKING_AbsolutePositioning;
        const bool setStop = stop != nullptr && stopFlags == AM_SEEKING_AbsolutePositioning;
        if (!setCurrent && !setStop) return S_OK;
        gint64 start = 0;
        if (setCurrent) {
            start = *current * 100;
        } else if (!gst_element_query_position(pipeline_, GST_FORMAT_TIME, &start)) {
            start = 0;
        }
        if (setStop) stop_ = *stop;
        const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
        if (!gst_element_seek(pipeline_, 1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, start,
                              setStop ? GST_SEEK_TYPE_SET : GST_SEEK_TYPE_NONE,
                              setStop ? *stop * 100 : GST_CLOCK_TIME_NONE)) {
            return E_FAIL;
        }
        return S_OK;
    }

    // ---- video window: the panel paints the frames itself; these record
    // what the program asked for and tell whether there is video at all.
    HRESULT put_AutoShow(bool) override { return hasVideo_ ? S_OK : E_NOINTERFACE; }
    HRESULT put_MessageDrain(WindowHandle) override { return hasVideo_ ? S_OK : E_NOINTERFACE; }
    HRESULT put_Owner(WindowHandle) override { return hasVideo_ ? S_OK : E_NOINTERFACE; }
    HRESULT put_WindowStyle(long) override { return hasVideo_ ? S_OK : E_NOINTERFACE; }
    HRESULT SetWindowPosition(long, long, long, long) override {
        return hasVideo_ ? S_OK : E_NOINTERFACE;
    }
    HRESULT put_Visible(bool) override { return hasVideo_ ? S_OK : E_NOINTERFACE; }
    HRESULT SetWindowForeground(bool) override { return hasVideo_ ? S_OK : E_NOINTERFACE; }

    // ---- events
    HRESULT SetNotifyCallback(std::function<void()> notify) override {
        std::lock_guard lock(mutex_);
        notify_ = std::move(notify);
        return S_OK;
    }
    HRESULT GetEvent(long* code, std::intptr_t* p1, std::intptr_t* p2, long) override {
        if (code == nullptr || p1 == nullptr || p2 == nullptr) return E_POINTER;
        std::lock_guard lock(mutex_);
        if (events_.empty()) return E_ABORT;
        *code = events_.front().code;
        *p1 = events_.front().param;
        *p2 = 0;
        events_.pop_front();
        return S_OK;
    }
    HRESULT FreeEventParams(long, std::intptr_t, std::intptr_t) override { return S_OK; }

    // ---- volume
    HRESULT get_Volume(long* out) override {
        if (out == nullptr) return E_POINTER;
        if (!HasAudioRenderer()) return E_NOTIMPL;
        *out = volume_;
        return S_OK;
    }
    HRESULT put_Volume(long volume) override {
        if (!HasAudioRenderer()) return E_NOTIMPL;
        if (volume < -10000 || volume > 0) return E_INVALIDARG_;
        volume_ = volume;
        ApplyVolume();
        return S_OK;
    }

    // ---- video frames
    void SetFrameNotify(std::function<void()> notify) override {
        std::lock_guard lock(mutex_);
        frameNotify_ = std::move(notify);
    }
    bool TakeFrame(VideoFrame* frame) override {
        if (frame == nullptr) return false;
        std::lock_guard lock(mutex_);
        if (!frameWaiting_) return false;
        *frame = std::move(frame_);
        frame_ = VideoFrame{};
        frameWaiting_ = false;
        return true;
    }

  private:
    static constexpr HRESULT E_INVALIDARG_ = static_cast<HRESULT>(0x80070057u);
    struct Event {
        long code;
        std::intptr_t param;
    };

    static void Link(const std::shared_ptr<GPin>& out, const std::shared_ptr<GPin>& in) {
        out->peer = in;
        in->peer = out;
    }
    // The pin as the connection rules see it.
    PinFacts Facts(const GPin& pin) const {
        const FilterKind kind = pin.owner->kind;
        return {pin.dir, !pin.peer.expired(), InGraph(pin.owner), OffersAudio(pin.types),
                kind == FilterKind::Grabber         ? FilterRole::Grabber
                : kind == FilterKind::AudioRenderer ? FilterRole::AudioRenderer
                                                    : FilterRole::Other};
    }
    bool InGraph(const GFilter* f) const {
        return std::any_of(filters_.begin(), filters_.end(),
                           [f](const auto& g) { return g.get() == f; });
    }
    bool HasAudioRenderer() const {
        return std::any_of(filters_.begin(), filters_.end(),
                           [](const auto& g) { return g->kind == FilterKind::AudioRenderer; });
    }
    void ApplyVolume() {
        if (volumeElement_ == nullptr) return;
        const double linear = volume_ <= -10000 ? 0.0 : std::pow(10.0, volume_ / 2000.0);
        g_object_set(volumeElement_, "volume", linear, nullptr);
    }

    gint64 QueryTime(GstQueryType type) {
        if (pipeline_ == nullptr) return -1;
        gint64 value = -1;
        const bool ok = type == GST_QUERY_DURATION
                            ? gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &value)
                            : gst_element_query_position(pipeline_, GST_FORMAT_TIME, &value);
        if (ok && value >= 0) return value;
        // Before the audio is linked the pipeline may have no sink to ask:
        // ask upstream from the held audio branch.
        if (audioTail_ != nullptr) {
            GstPad* pad = gst_element_get_static_pad(audioTail_, "src");
            value = -1;
            const bool padOk = type == GST_QUERY_DURATION
                                   ? gst_pad_query_duration(pad, GST_FORMAT_TIME, &value)
                                   : gst_pad_query_position(pad, GST_FORMAT_TIME, &value);
            gst_object_unref(pad);
            if (padOk && value >= 0) return value;
        }
        if (type != GST_QUERY_DURATION) return -1;
        // Parsing the whole stream is done once per file, however often the
        // length is asked for.
        if (measured_ == kNotMeasured) measured_ = MeasureStreamLength(path_);
        return measured_ >= 0 ? measured_ : EstimateStreamLength(pipeline_);
    }

    void PostEvent(long code, std::intptr_t param) {
        std::function<void()> notify;
        {
            std::lock_guard lock(mutex_);
            events_.push_back({code, param});
            notify = notify_;
        }
        if (notify) notify();
    }

    struct BusContext {
        std::mutex mutex;
        GstGraph* graph;
    };
    static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer data);
    void HandleBusMessage(GstMessage* message);
    static void OnPadAdded(GstElement*, GstPad* pad, gpointer data);
    static void OnNoMorePads(GstElement*, gpointer data);
    static GstPadProbeReturn OnAudioHeld(GstPad*, GstPadProbeInfo* info, gpointer data);
    static GstFlowReturn OnVideoSample(GstAppSink* sink, gpointer data);
    static GstFlowReturn OnVideoPreroll(GstAppSink* sink, gpointer data);
    void TakeVideo(GstSample* sample);
    void PadAdded(GstPad* pad);
    void PadAddedWithCaps(GstPad* pad, GstCaps* caps);
    static GstPadProbeReturn OnStreamCaps(GstPad* pad, GstPadProbeInfo* info, gpointer data);
    void LinkAudio();
    GstElement* AudioRendererBin();

    GstElement* pipeline_ = nullptr;
    BusContext* busContext_ = nullptr;  // owned by the pipeline's bus
    GstElement* audioTail_ = nullptr;   // end of the decoded audio branch (one reference)
    gulong audioProbe_ = 0;
    GstElement* volumeElement_ = nullptr;
    std::vector<std::shared_ptr<GFilter>> filters_;
    std::atomic<bool> linked_{false};  // read by the bus handler
    bool unsynchronised_ = false;
    static constexpr gint64 kNotMeasured = -2;
    gint64 measured_ = kNotMeasured;  // the thread that uses the graph (load, then GUI)
    bool hasVideo_ = false;
    FilterState state_ = FilterState::Stopped;
    long volume_ = 0;
    std::atomic<std::int64_t> stop_{-1};    // set by seeks, read with positions
    std::atomic<std::int64_t> length_{-1};  // the last length found, 100 ns units
    std::string rotName_;
    std::string path_;  // the rendered file

    // Shared with the streaming threads.
    std::mutex mutex_;
    std::condition_variable cv_;
    bool rendering_ = false;
    bool noMorePads_ = false;
    int capsPending_ = 0;  // streams waiting for their caps
    bool renderError_ = false;
    std::string renderReason_;  // the first error while rendering
    bool dumped_ = false;
    bool audioFound_ = false;
    bool audioHeld_ = false;
    bool videoFound_ = false;
    WaveFormat audioFormat_;
    std::deque<Event> events_;
    std::function<void()> notify_;
    std::function<void()> frameNotify_;
    VideoFrame frame_;
    bool frameWaiting_ = false;
};

}  // namespace vurma::media
