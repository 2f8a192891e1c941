// The engine on GStreamer. A rendered file is a pipeline whose source and
// decoders uridecodebin chooses; the filters and pins the program rewires are
// a model over it: "Source", "Decoder" (pins "Audio", "Video"),
// "AudioRenderer" and "VideoRenderer". While the program rewires the model
// the decoded audio is held back at a blocked pad; the first transport call
// links the audio branch as the model says (decoder, grabber, renderer) and
// lets it flow, so the grabber sees the file from its first buffer.
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

#include "engine.h"
#include "gst_internal.h"
#include "gst_sample_grabber.h"
#include "media_session.h"

namespace vurma::media {
namespace {

constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
constexpr HRESULT E_NOT_STOPPED = static_cast<HRESULT>(0x80040224u);
constexpr auto kRenderTimeout = std::chrono::seconds(20);

enum class FilterKind { Source, Decoder, AudioRenderer, VideoRenderer, Grabber };

class GstGraph;
class GFilter;

class GPin final : public IPin, public std::enable_shared_from_this<GPin> {
  public:
    GPin(GFilter* owner, std::string name, PinDirection dir, std::vector<MediaType> types)
        : name(std::move(name)), dir(dir), types(std::move(types)), owner(owner) {}
    HRESULT QueryDirection(PinDirection* out) override {
        if (out == nullptr) return E_POINTER;
        *out = dir;
        return S_OK;
    }
    HRESULT QueryPinInfo(PinInfo* info) override {
        if (info == nullptr) return E_POINTER;
        info->name = name;
        info->dir = dir;
        return S_OK;
    }
    HRESULT ConnectedTo(std::shared_ptr<IPin>* out) override {
        if (out == nullptr) return E_POINTER;
        auto p = peer.lock();
        if (p == nullptr) return E_NOT_CONNECTED;
        *out = p;
        return S_OK;
    }
    HRESULT EnumMediaTypes(std::shared_ptr<IEnumMediaTypes>* out) override {
        if (out == nullptr) return E_POINTER;
        *out = std::make_shared<VectorEnum<MediaType>>(types);
        return S_OK;
    }
    bool IsAudio() const {
        return std::any_of(types.begin(), types.end(), [](const MediaType& t) {
            return t.formatType == FormatType::WaveFormatEx;
        });
    }

    std::string name;
    PinDirection dir;
    std::vector<MediaType> types;
    std::weak_ptr<GPin> peer;
    GFilter* owner;
};

class GFilter final : public IBaseFilter,
                      public ISampleGrabber,
                      public std::enable_shared_from_this<GFilter> {
  public:
    GFilter(FilterKind kind, std::string name) : kind(kind), name(std::move(name)) {}
    ~GFilter() override {
        if (element != nullptr) gst_object_unref(element);
    }
    std::shared_ptr<GPin> AddPin(std::string pinName, PinDirection dir,
                                 std::vector<MediaType> types = {}) {
        pins.push_back(std::make_shared<GPin>(this, std::move(pinName), dir, std::move(types)));
        return pins.back();
    }
    std::shared_ptr<GPin> Pin(const char* pinName) const {
        for (const auto& p : pins) {
            if (p->name == pinName) return p;
        }
        return nullptr;
    }

    HRESULT QueryFilterInfo(FilterInfo* info) override {
        if (info == nullptr) return E_POINTER;
        info->name = name;
        return S_OK;
    }
    HRESULT EnumPins(std::shared_ptr<IEnumPins>* out) override {
        if (out == nullptr) return E_POINTER;
        *out = std::make_shared<VectorEnum<std::shared_ptr<IPin>>>(
            std::vector<std::shared_ptr<IPin>>(pins.begin(), pins.end()));
        return S_OK;
    }
    HRESULT QuerySampleGrabber(std::shared_ptr<ISampleGrabber>* out) override {
        if (out == nullptr) return E_POINTER;
        if (kind != FilterKind::Grabber) return E_NOINTERFACE;
        *out =
            std::shared_ptr<ISampleGrabber>(shared_from_this(), static_cast<ISampleGrabber*>(this));
        return S_OK;
    }
    HRESULT SetOneShot(bool oneShot) override { return oneShot ? E_NOTIMPL : S_OK; }
    HRESULT SetBufferSamples(bool bufferThem) override { return bufferThem ? E_NOTIMPL : S_OK; }
    HRESULT SetCallback(ISampleGrabberCB* callback, int whichMethod) override {
        if (whichMethod != 0) return E_NOTIMPL;
        SampleGrabberSetCallback(element, callback);
        return S_OK;
    }

    FilterKind kind;
    std::string name;
    std::vector<std::shared_ptr<GPin>> pins;
    GstElement* element = nullptr;  // the grabber's element (one reference)
};

// The decoded audio format the program is given. Integer PCM keeps its
// precision: 8-bit arrives unsigned, 16, 24 (also 24 bits in a 32-bit
// container) and 32 bits signed little-endian in 2, 3 and 4 bytes; big-endian
// PCM arrives little-endian; floating-point decoder output (MP3, AAC, Vorbis,
// Opus...) is converted to 16-bit signed, as a decoder of such formats
// delivers it to an application.
GstAudioFormat CaptureFormat(const GstAudioInfo& info, int* bits) {
    const GstAudioFormatInfo* f = info.finfo;
    if (GST_AUDIO_FORMAT_INFO_IS_INTEGER(f)) {
        const int width = GST_AUDIO_FORMAT_INFO_WIDTH(f);
        const int depth = GST_AUDIO_FORMAT_INFO_DEPTH(f);
        *bits = width == 32 && depth == 24 ? 24 : width;
        if (width == 8) return GST_AUDIO_FORMAT_U8;
        if (width == 16) return GST_AUDIO_FORMAT_S16LE;
        if (width == 24 || depth == 24) return GST_AUDIO_FORMAT_S24LE;
        if (width == 32) return GST_AUDIO_FORMAT_S32LE;
    }
    *bits = 16;
    return GST_AUDIO_FORMAT_S16LE;
}

// Multichannel PCM without a channel mask (a plain 3- or 7-channel WAV, an
// 8-channel W64) has caps GStreamer's audio elements refuse. Returns the
// caps with the usual layout for that channel count (unpositioned when there
// is none) and its mask, or null when the caps need nothing or cannot be
// mended.
GstCaps* CapsWithChannelMask(GstCaps* caps, guint64* mask) {
    if (caps == nullptr || gst_caps_get_size(caps) == 0) return nullptr;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    int channels = 0;
    if (gst_structure_has_field(s, "channel-mask") ||
        !gst_structure_get_int(s, "channels", &channels) || channels < 3)
        return nullptr;
    *mask = gst_audio_channel_get_fallback_mask(channels);
    GstCaps* fixed = gst_caps_copy(caps);
    gst_caps_set_simple(fixed, "channel-mask", GST_TYPE_BITMASK, *mask, nullptr);
    return fixed;
}

// Streaming thread: gives the caps of a stream without a channel mask the
// mask chosen for it on their way into the converter.
GstPadProbeReturn AddChannelMask(GstPad*, GstPadProbeInfo* info, gpointer) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS) return GST_PAD_PROBE_OK;
    GstCaps* caps = nullptr;
    gst_event_parse_caps(event, &caps);
    guint64 mask = 0;
    GstCaps* fixed = CapsWithChannelMask(caps, &mask);
    if (fixed == nullptr) return GST_PAD_PROBE_OK;
    GST_PAD_PROBE_INFO_DATA(info) = gst_event_new_caps(fixed);
    gst_caps_unref(fixed);
    gst_event_unref(event);
    return GST_PAD_PROBE_OK;
}

}  // namespace

bool SetUpCaptureConversion(GstCaps* decoded, GstElement* convert, GstElement* filter,
                            WaveFormat* wave) {
    guint64 mask = 0;
    GstCaps* masked = CapsWithChannelMask(decoded, &mask);
    GstAudioInfo info;
    const bool ok =
        decoded != nullptr && gst_audio_info_from_caps(&info, masked != nullptr ? masked : decoded);
    if (ok) {
        int bits = 0;
        const GstAudioFormat format = CaptureFormat(info, &bits);
        *wave = {info.channels, bits, static_cast<int>(info.rate)};
        GstCaps* want = gst_caps_new_simple(
            "audio/x-raw", "format", G_TYPE_STRING, gst_audio_format_to_string(format), "layout",
            G_TYPE_STRING, "interleaved", "rate", G_TYPE_INT, info.rate, "channels", G_TYPE_INT,
            info.channels, nullptr);
        g_object_set(filter, "caps", want, nullptr);
        gst_caps_unref(want);
        // Plain rounding to the capture width, as a decoder delivers it:
        // no dither noise on digital silence.
        g_object_set(convert, "dithering", GST_AUDIO_DITHER_NONE, nullptr);
        if (masked != nullptr) {
            GstPad* in = gst_element_get_static_pad(convert, "sink");
            gst_pad_add_probe(in, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &AddChannelMask, nullptr,
                              nullptr);
            gst_object_unref(in);
        }
    }
    if (masked != nullptr) gst_caps_unref(masked);
    return ok;
}

namespace {

GstElement* Make(const char* factory, const char* name = nullptr) {
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
        if (!InGraph(o->owner) || !InGraph(i->owner)) return E_NOT_FOUND;
        if (!o->peer.expired() || !i->peer.expired()) return E_ALREADY_CONNECTED;
        if (o->dir != PinDirection::Output || i->dir != PinDirection::Input)
            return E_CANNOT_CONNECT;
        // Only audio reaches the grabber and the audio renderer.
        if (!o->IsAudio()) return E_CANNOT_CONNECT;
        if (i->owner->kind != FilterKind::Grabber && i->owner->kind != FilterKind::AudioRenderer) {
            return E_CANNOT_CONNECT;
        }
        i->types = o->types;
        if (i->owner->kind == FilterKind::Grabber) {
            if (auto grabOut = i->owner->Pin(kGrabberOutputPin)) grabOut->types = o->types;
        }
        Link(o, i);
        return S_OK;
    }
    HRESULT Render(const std::shared_ptr<IPin>& out) override {
        auto o = std::dynamic_pointer_cast<GPin>(out);
        if (o == nullptr) return E_POINTER;
        if (linked_) return E_NOT_STOPPED;
        if (!InGraph(o->owner)) return E_NOT_FOUND;
        if (!o->peer.expired()) return E_ALREADY_CONNECTED;
        if (o->dir != PinDirection::Output || !o->IsAudio()) return E_CANNOT_RENDER;
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
        *stop = stop_ >= 0 ? stop_ : std::max<gint64>(QueryTime(GST_QUERY_DURATION), 0) / 100;
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
        if (measured_ == kNotMeasured) measured_ = MeasureDuration();
        return measured_ >= 0 ? measured_ : EstimateDuration();
    }

    // A stream without a length in its headers is parsed once through,
    // without decoding, and its end read: the estimate from the first frames
    // can be far off for a variable bit rate, and the capture is sized by
    // the length. -1 when the file cannot be parsed so.
    gint64 MeasureDuration() {
        if (path_.empty()) return -1;
        GstElement* pipe = gst_pipeline_new(nullptr);
        GstElement* src = Make("filesrc");
        GstElement* parse = Make("parsebin");
        if (src == nullptr || parse == nullptr) {
            if (src != nullptr) gst_object_unref(src);
            if (parse != nullptr) gst_object_unref(parse);
            gst_object_unref(pipe);
            return -1;
        }
        g_object_set(src, "location", path_.c_str(), nullptr);
        gst_bin_add_many(GST_BIN(pipe), src, parse, nullptr);
        gst_element_link(src, parse);
        // Every parsed stream runs into a sink of its own, as fast as it parses.
        g_signal_connect(parse, "pad-added", G_CALLBACK(&GstGraph::OnMeasurePad), pipe);
        gint64 end = -1;
        if (gst_element_set_state(pipe, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
            GstBus* bus = gst_element_get_bus(pipe);
            GstMessage* msg = gst_bus_timed_pop_filtered(
                bus, 30 * GST_SECOND,
                static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
            if (msg != nullptr && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS &&
                (!gst_element_query_position(pipe, GST_FORMAT_TIME, &end) || end <= 0)) {
                end = -1;
            }
            if (msg != nullptr) gst_message_unref(msg);
            gst_object_unref(bus);
        }
        gst_element_set_state(pipe, GST_STATE_NULL);
        gst_object_unref(pipe);
        return end;
    }

    static void OnMeasurePad(GstElement*, GstPad* pad, gpointer pipe) {
        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        if (sink == nullptr) return;
        g_object_set(sink, "sync", FALSE, nullptr);
        gst_bin_add(GST_BIN(pipe), sink);
        gst_element_sync_state_with_parent(sink);
        GstPad* sinkPad = gst_element_get_static_pad(sink, "sink");
        gst_pad_link(pad, sinkPad);
        gst_object_unref(sinkPad);
    }

    // A stream without a length in its headers (an MP3 without a Xing
    // header, say) is measured as its parser would: file size over the
    // byte rate of the frames parsed so far.
    gint64 EstimateDuration() {
        gint64 result = -1;
        GstIterator* it = gst_bin_iterate_recurse(GST_BIN(pipeline_));
        GValue item = G_VALUE_INIT;
        while (result < 0 && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
            auto* element = GST_ELEMENT(g_value_get_object(&item));
            if (GST_IS_BASE_PARSE(element)) {
                GstPad* src = gst_element_get_static_pad(element, "src");
                GstPad* sink = gst_element_get_static_pad(element, "sink");
                GstCaps* caps = src != nullptr ? gst_pad_get_current_caps(src) : nullptr;
                gint64 bytes = 0, time = -1;
                if (caps != nullptr && sink != nullptr && gst_caps_get_size(caps) > 0 &&
                    g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)),
                                     "audio/") &&
                    gst_pad_peer_query_duration(sink, GST_FORMAT_BYTES, &bytes) && bytes > 0 &&
                    gst_pad_query_convert(src, GST_FORMAT_BYTES, bytes, GST_FORMAT_TIME, &time) &&
                    time >= 0) {
                    result = time;
                }
                if (caps != nullptr) gst_caps_unref(caps);
                if (src != nullptr) gst_object_unref(src);
                if (sink != nullptr) gst_object_unref(sink);
            }
            g_value_reset(&item);
        }
        g_value_unset(&item);
        gst_iterator_free(it);
        return result;
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
    std::int64_t stop_ = -1;
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

// Messages can still arrive from threads that are winding down while the
// graph is destroyed: the context lets the handler see that it is gone.
GstBusSyncReply GstGraph::OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
    auto* context = static_cast<BusContext*>(data);
    {
        std::lock_guard lock(context->mutex);
        if (context->graph != nullptr) context->graph->HandleBusMessage(message);
    }
    // Nothing is left on the bus: a dropped message is ours to release.
    gst_message_unref(message);
    return GST_BUS_DROP;
}

void GstGraph::HandleBusMessage(GstMessage* message) {
    GstGraph* self = this;
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR: {
            GError* error = nullptr;
            gchar* debug = nullptr;
            gst_message_parse_error(message, &error, &debug);
            bool rendering;
            {
                std::lock_guard lock(self->mutex_);
                rendering = self->rendering_;
                if (rendering && !self->renderError_) {
                    self->renderError_ = true;
                    if (error != nullptr) self->renderReason_ = error->message;
                }
            }
            if (rendering) {
                self->cv_.notify_all();
            } else {
                std::fprintf(stderr, "vurma: media error: %s\n",
                             error != nullptr ? error->message : "?");
                self->PostEvent(EC_ERRORABORT, static_cast<std::intptr_t>(E_FAIL));
            }
            if (error != nullptr) g_error_free(error);
            g_free(debug);
            break;
        }
        case GST_MESSAGE_EOS:
            self->PostEvent(EC_COMPLETE, 0);
            break;
        case GST_MESSAGE_ASYNC_DONE:
            if (GST_MESSAGE_SRC(message) == GST_OBJECT(self->pipeline_) && self->linked_) {
                bool dump;
                {
                    std::lock_guard lock(self->mutex_);
                    dump = !self->dumped_ && !self->rotName_.empty();
                    self->dumped_ = true;
                }
                // The graph as a dot file, for outside inspection, where
                // GST_DEBUG_DUMP_DOT_DIR asks for it.
                if (dump) {
                    std::string name = self->rotName_;
                    std::replace(name.begin(), name.end(), ' ', '_');
                    GST_DEBUG_BIN_TO_DOT_FILE(GST_BIN(self->pipeline_), GST_DEBUG_GRAPH_SHOW_ALL,
                                              name.c_str());
                }
            }
            break;
        default:
            break;
    }
}

void GstGraph::OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
    static_cast<GstGraph*>(data)->PadAdded(pad);
}

void GstGraph::OnNoMorePads(GstElement*, gpointer data) {
    auto* self = static_cast<GstGraph*>(data);
    {
        std::lock_guard lock(self->mutex_);
        self->noMorePads_ = true;
    }
    self->cv_.notify_all();
}

// Streaming thread: the first buffer (or the end of an empty stream) stops
// at the held audio pad; events before it pass.
GstPadProbeReturn GstGraph::OnAudioHeld(GstPad*, GstPadProbeInfo* info, gpointer data) {
    if ((info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) != 0 &&
        GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) != GST_EVENT_EOS) {
        return GST_PAD_PROBE_PASS;
    }
    auto* self = static_cast<GstGraph*>(data);
    {
        std::lock_guard lock(self->mutex_);
        self->audioHeld_ = true;
    }
    self->cv_.notify_all();
    return GST_PAD_PROBE_OK;
}

// Streaming thread: the caps of a stream whose branch waited for them.
GstPadProbeReturn GstGraph::OnStreamCaps(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS && GST_EVENT_TYPE(event) != GST_EVENT_EOS)
        return GST_PAD_PROBE_OK;
    auto* self = static_cast<GstGraph*>(data);
    // A stream that ends before its format is known gets no branch.
    if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        self->PadAddedWithCaps(pad, gst_caps_ref(caps));
    }
    {
        std::lock_guard lock(self->mutex_);
        --self->capsPending_;
    }
    self->cv_.notify_all();
    return GST_PAD_PROBE_REMOVE;
}

// Streaming thread: gives each decoded stream its branch. A stream exposed
// before its format is settled (a decoder that still offers a range) gets
// it once its caps arrive: reading a format from unsettled caps is an error.
void GstGraph::PadAdded(GstPad* pad) {
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (caps == nullptr) {
        {
            std::lock_guard lock(mutex_);
            ++capsPending_;
        }
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &GstGraph::OnStreamCaps, this,
                          nullptr);
        return;
    }
    PadAddedWithCaps(pad, caps);
}

// Takes the caps' reference.
void GstGraph::PadAddedWithCaps(GstPad* pad, GstCaps* caps) {
    const gchar* media = caps != nullptr && gst_caps_get_size(caps) > 0
                             ? gst_structure_get_name(gst_caps_get_structure(caps, 0))
                             : "";
    bool takeAudio = false;
    bool takeVideo = false;
    {
        std::lock_guard lock(mutex_);
        if (g_str_has_prefix(media, "audio/x-raw") && !audioFound_) {
            takeAudio = audioFound_ = true;
        } else if (g_str_has_prefix(media, "video/x-raw") && !videoFound_) {
            takeVideo = videoFound_ = true;
        }
    }
    GstElement* head = nullptr;
    if (takeAudio) {
        WaveFormat wave;
        GstElement* convert = Make("audioconvert");
        GstElement* filter = Make("capsfilter");
        if (convert == nullptr || filter == nullptr ||
            !SetUpCaptureConversion(caps, convert, filter, &wave)) {
            if (convert != nullptr) gst_object_unref(convert);
            if (filter != nullptr) gst_object_unref(filter);
        } else {
            gst_bin_add_many(GST_BIN(pipeline_), convert, filter, nullptr);
            gst_element_link(convert, filter);
            // Hold the decoded audio until the program has put its grabber in.
            GstPad* src = gst_element_get_static_pad(filter, "src");
            const gulong probe = gst_pad_add_probe(
                src,
                static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER |
                                             GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                             GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                &GstGraph::OnAudioHeld, this, nullptr);
            gst_object_unref(src);
            gst_element_sync_state_with_parent(filter);
            gst_element_sync_state_with_parent(convert);
            std::lock_guard lock(mutex_);
            audioProbe_ = probe;
            audioTail_ = GST_ELEMENT(gst_object_ref(filter));
            audioFormat_ = wave;
            head = convert;
        }
    } else if (takeVideo) {
        GstElement* convert = Make("videoconvert");
        GstElement* sink = Make("appsink");
        if (convert != nullptr && sink != nullptr) {
            GstCaps* want = gst_caps_from_string("video/x-raw,format=RGBx");
            g_object_set(sink, "caps", want, "max-buffers", 1, "drop", TRUE, "sync",
                         unsynchronised_ ? FALSE : TRUE, nullptr);
            gst_caps_unref(want);
            GstAppSinkCallbacks callbacks{};
            callbacks.new_preroll = &GstGraph::OnVideoPreroll;
            callbacks.new_sample = &GstGraph::OnVideoSample;
            gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
            gst_bin_add_many(GST_BIN(pipeline_), convert, sink, nullptr);
            gst_element_link(convert, sink);
            gst_element_sync_state_with_parent(sink);
            gst_element_sync_state_with_parent(convert);
            head = convert;
        }
    }
    if (head == nullptr) {
        // Streams the program does not use are consumed and dropped.
        GstElement* sink = Make("fakesink");
        if (sink != nullptr) {
            g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
            gst_bin_add(GST_BIN(pipeline_), sink);
            gst_element_sync_state_with_parent(sink);
            head = sink;
        }
    }
    if (head != nullptr) {
        GstPad* sinkPad = gst_element_get_static_pad(head, "sink");
        gst_pad_link(pad, sinkPad);
        gst_object_unref(sinkPad);
    }
    if (caps != nullptr) gst_caps_unref(caps);
}

GstFlowReturn GstGraph::OnVideoSample(GstAppSink* sink, gpointer data) {
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (sample != nullptr) static_cast<GstGraph*>(data)->TakeVideo(sample);
    return GST_FLOW_OK;
}

GstFlowReturn GstGraph::OnVideoPreroll(GstAppSink* sink, gpointer data) {
    GstSample* sample = gst_app_sink_pull_preroll(sink);
    if (sample != nullptr) static_cast<GstGraph*>(data)->TakeVideo(sample);
    return GST_FLOW_OK;
}

// Streaming thread: keeps a copy of the latest picture for the panel.
void GstGraph::TakeVideo(GstSample* sample) {
    GstVideoInfo info;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (buffer != nullptr && gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
        gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        VideoFrame frame;
        frame.width = GST_VIDEO_INFO_WIDTH(&info);
        frame.height = GST_VIDEO_INFO_HEIGHT(&info);
        frame.stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
        const std::size_t size = static_cast<std::size_t>(frame.stride) * frame.height;
        if (size <= map.size) {
            frame.bytes.assign(map.data, map.data + size);
            if (GST_BUFFER_PTS_IS_VALID(buffer)) frame.time = GST_BUFFER_PTS(buffer) / 100;
            std::function<void()> notify;
            {
                std::lock_guard lock(mutex_);
                frame_ = std::move(frame);
                frameWaiting_ = true;
                notify = frameNotify_;
            }
            if (notify) notify();
        }
        gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
}

HRESULT GstGraph::RenderFile(const std::string& utf8Path) {
    if (pipeline_ != nullptr) return E_FAIL;
    path_ = utf8Path;
    GError* error = nullptr;
    gchar* uri = gst_filename_to_uri(utf8Path.c_str(), &error);
    if (uri == nullptr) {
        if (error != nullptr) g_error_free(error);
        return E_NOT_FOUND;
    }
    pipeline_ = gst_pipeline_new("graph");
    gst_object_ref_sink(pipeline_);
    GstElement* source = Make("uridecodebin", "Source");
    if (source == nullptr) {
        g_free(uri);
        return E_CANNOT_RENDER;
    }
    g_object_set(source, "uri", uri, nullptr);
    g_free(uri);
    gst_bin_add(GST_BIN(pipeline_), source);
    g_signal_connect(source, "pad-added", G_CALLBACK(&GstGraph::OnPadAdded), this);
    g_signal_connect(source, "no-more-pads", G_CALLBACK(&GstGraph::OnNoMorePads), this);
    GstBus* bus = gst_element_get_bus(pipeline_);
    // The bus owns the context and frees it once no handler call is running.
    busContext_ = new BusContext{{}, this};
    gst_bus_set_sync_handler(bus, &GstGraph::OnBusMessage, busContext_,
                             [](gpointer data) { delete static_cast<BusContext*>(data); });
    gst_object_unref(bus);

    {
        std::lock_guard lock(mutex_);
        rendering_ = true;
    }
    bool ok = gst_element_set_state(pipeline_, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE;
    {
        std::unique_lock lock(mutex_);
        if (ok) {
            // Ready when every stream is known and the audio, if any, is held
            // at its first buffer.
            ok = cv_.wait_for(lock, kRenderTimeout,
                              [this] {
                                  return (noMorePads_ && capsPending_ == 0 &&
                                          (audioTail_ == nullptr || audioHeld_)) ||
                                         renderError_;
                              }) &&
                 !renderError_ && (audioFound_ || videoFound_);
        }
        rendering_ = false;
    }
    if (!ok) {
        {
            std::lock_guard lock(mutex_);
            if (renderReason_.empty()) {
                renderReason_ = !noMorePads_ || (audioTail_ != nullptr && !audioHeld_)
                                    ? "No data arrived within 20 seconds."
                                    : "The file holds no stream that can be decoded.";
            }
        }
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        return E_CANNOT_RENDER;
    }
    // Wait for the video picture (if any) so that a file's first frame is
    // there and its length can be read.
    gst_element_get_state(pipeline_, nullptr, nullptr, 5 * GST_SECOND);

    auto src = std::make_shared<GFilter>(FilterKind::Source, "Source");
    auto srcOut = src->AddPin("Output", PinDirection::Output);
    auto decoder = std::make_shared<GFilter>(FilterKind::Decoder, "Decoder");
    Link(srcOut, decoder->AddPin("Input", PinDirection::Input));
    filters_.push_back(src);
    filters_.push_back(decoder);
    if (audioTail_ != nullptr) {
        MediaType wave;
        wave.formatType = FormatType::WaveFormatEx;
        wave.wave = audioFormat_;
        auto audioOut = decoder->AddPin("Audio", PinDirection::Output, {wave});
        auto renderer = std::make_shared<GFilter>(FilterKind::AudioRenderer, kAudioRendererName);
        Link(audioOut, renderer->AddPin("In", PinDirection::Input, {wave}));
        filters_.push_back(renderer);
    }
    if (videoFound_) {
        hasVideo_ = true;
        MediaType video;
        video.formatType = FormatType::VideoInfo;
        auto videoOut = decoder->AddPin("Video", PinDirection::Output, {video});
        auto renderer = std::make_shared<GFilter>(FilterKind::VideoRenderer, "VideoRenderer");
        Link(videoOut, renderer->AddPin("In", PinDirection::Input, {video}));
        filters_.push_back(renderer);
    }
    return S_OK;
}

GstElement* GstGraph::AudioRendererBin() {
    GstElement* bin = gst_bin_new(nullptr);
    // The volume stage takes no 8-bit unsigned samples: convert in front.
    // Played sound may also need resampling for the device; unsynchronised
    // output goes nowhere and needs no resampling.
    GstElement* convert = Make("audioconvert");
    GstElement* resample = unsynchronised_ ? nullptr : Make("audioresample");
    GstElement* volume = Make("volume");
    GstElement* sink = Make(unsynchronised_ ? "fakesink" : "autoaudiosink");
    if (convert == nullptr || (!unsynchronised_ && resample == nullptr) || volume == nullptr ||
        sink == nullptr) {
        gst_object_unref(bin);
        return nullptr;
    }
    if (unsynchronised_) g_object_set(sink, "sync", FALSE, nullptr);
    if (resample != nullptr) {
        gst_bin_add_many(GST_BIN(bin), convert, resample, volume, sink, nullptr);
        gst_element_link_many(convert, resample, volume, sink, nullptr);
    } else {
        gst_bin_add_many(GST_BIN(bin), convert, volume, sink, nullptr);
        gst_element_link_many(convert, volume, sink, nullptr);
    }
    GstPad* pad = gst_element_get_static_pad(convert, "sink");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", pad));
    gst_object_unref(pad);
    volumeElement_ = volume;
    ApplyVolume();
    return bin;
}

// Puts the audio branch together as the model says and lets the held audio go.
void GstGraph::LinkAudio() {
    if (linked_ || pipeline_ == nullptr) return;
    linked_ = true;
    if (audioTail_ == nullptr) return;
    std::shared_ptr<GPin> out;
    for (const auto& f : filters_) {
        if (f->kind == FilterKind::Decoder) out = f->Pin("Audio");
    }
    GstElement* upstream = audioTail_;
    std::vector<GstElement*> added;
    while (true) {
        std::shared_ptr<GPin> in = out != nullptr ? out->peer.lock() : nullptr;
        GstElement* next = nullptr;
        std::shared_ptr<GPin> nextOut;
        if (in != nullptr && in->owner->kind == FilterKind::Grabber && in->owner->element) {
            next = in->owner->element;
            nextOut = in->owner->Pin(kGrabberOutputPin);
        } else if (in != nullptr && in->owner->kind == FilterKind::AudioRenderer) {
            next = AudioRendererBin();
        }
        if (next == nullptr) {
            // An unconnected branch still runs, into a sink that drops it.
            next = Make("fakesink");
            g_object_set(next, "sync", unsynchronised_ ? FALSE : TRUE, nullptr);
            nextOut.reset();
        }
        gst_bin_add(GST_BIN(pipeline_), next);
        gst_element_link(upstream, next);
        added.push_back(next);
        upstream = next;
        out = nextOut;
        if (out == nullptr) break;
    }
    for (auto it = added.rbegin(); it != added.rend(); ++it)
        gst_element_sync_state_with_parent(*it);
    GstPad* src = gst_element_get_static_pad(audioTail_, "src");
    gst_pad_remove_probe(src, audioProbe_);
    gst_object_unref(src);
}

class GstCaptureBuilder final : public ICaptureGraphBuilder2 {};

class GstBag final : public IPropertyBag {
  public:
    GstBag(std::string friendly, std::string clsid)
        : friendly_(std::move(friendly)), clsid_(std::move(clsid)) {}
    HRESULT Read(const std::string& property, std::string* value) override {
        if (value == nullptr) return E_POINTER;
        if (property == "FriendlyName")
            *value = friendly_;
        else if (property == "CLSID")
            *value = clsid_;
        else
            return E_FAIL;
        return S_OK;
    }

  private:
    std::string friendly_, clsid_;
};

class GstMoniker final : public IMoniker {
  public:
    GstMoniker(std::string friendly, std::string clsid)
        : friendly_(std::move(friendly)), clsid_(std::move(clsid)) {}
    HRESULT BindToStorage(std::shared_ptr<IPropertyBag>* bag) override {
        if (bag == nullptr) return E_POINTER;
        *bag = std::make_shared<GstBag>(friendly_, clsid_);
        return S_OK;
    }

  private:
    std::string friendly_, clsid_;
};

// The category's entries are the element factories that name it in their metadata.
class GstDevEnum final : public ICreateDevEnum {
  public:
    HRESULT CreateClassEnumerator(const CategoryId& category, std::shared_ptr<IEnumMoniker>* out,
                                  int) override {
        if (out == nullptr) return E_POINTER;
        std::vector<std::shared_ptr<IMoniker>> items;
        GList* factories =
            gst_registry_get_feature_list(gst_registry_get(), GST_TYPE_ELEMENT_FACTORY);
        for (GList* l = factories; l != nullptr; l = l->next) {
            auto* factory = GST_ELEMENT_FACTORY(l->data);
            const gchar* cat = gst_element_factory_get_metadata(factory, kCategoryMetadataKey);
            if (cat == nullptr || category != cat) continue;
            const gchar* longName =
                gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME);
            items.push_back(std::make_shared<GstMoniker>(longName != nullptr ? longName : "",
                                                         GST_OBJECT_NAME(factory)));
        }
        gst_plugin_feature_list_free(factories);
        *out = std::make_shared<VectorEnum<std::shared_ptr<IMoniker>>>(std::move(items));
        return S_OK;
    }
};

class GstRot final : public IRunningObjectTable {
  public:
    HRESULT Register(const std::string& itemName, const std::shared_ptr<IGraphBuilder>& graph,
                     std::uint32_t* cookie) override {
        if (cookie == nullptr) return E_POINTER;
        if (auto g = std::dynamic_pointer_cast<GstGraph>(graph)) g->SetRotName(itemName);
        static std::uint32_t next = 1;
        *cookie = next++;
        return S_OK;
    }
    HRESULT Revoke(std::uint32_t) override { return S_OK; }
};

class GstEngine final : public IEngine {
  public:
    HRESULT CreateGraphBuilder(std::shared_ptr<IGraphBuilder>* out) override {
        if (out == nullptr) return E_POINTER;
        *out = std::make_shared<GstGraph>();
        return S_OK;
    }
    HRESULT CreateCaptureGraphBuilder(std::shared_ptr<ICaptureGraphBuilder2>* out) override {
        if (out == nullptr) return E_POINTER;
        *out = std::make_shared<GstCaptureBuilder>();
        return S_OK;
    }
    HRESULT CreateDevEnum(std::shared_ptr<ICreateDevEnum>* out) override {
        if (out == nullptr) return E_POINTER;
        *out = std::make_shared<GstDevEnum>();
        return S_OK;
    }
    HRESULT GetRunningObjectTable(std::shared_ptr<IRunningObjectTable>* out) override {
        if (out == nullptr) return E_POINTER;
        *out = std::make_shared<GstRot>();
        return S_OK;
    }
    HRESULT ClsidFromString(const std::string& text, Clsid* clsid) override {
        if (clsid == nullptr) return E_POINTER;
        if (text.empty()) return E_CLASS_STRING;
        *clsid = text;
        return S_OK;
    }
    HRESULT CreateFilter(const Clsid& clsid, std::shared_ptr<IBaseFilter>* out) override {
        if (out == nullptr) return E_POINTER;
        if (clsid != kGrabberFactoryName) return E_CLASS_NOT_REG;
        GstElement* element = gst_element_factory_make(clsid.c_str(), nullptr);
        if (element == nullptr) return E_CLASS_NOT_REG;
        auto filter = std::make_shared<GFilter>(FilterKind::Grabber, "");
        filter->element = GST_ELEMENT(gst_object_ref_sink(element));
        filter->AddPin(kGrabberInputPin, PinDirection::Input);
        filter->AddPin(kGrabberOutputPin, PinDirection::Output);
        *out = filter;
        return S_OK;
    }
    HRESULT CreateAudioDecode(std::shared_ptr<IAudioDecode>* out) override {
        if (out == nullptr) return E_POINTER;
        *out = CreateGstAudioDecode();
        return *out != nullptr ? S_OK : E_FAIL;
    }
};

}  // namespace

std::shared_ptr<IEngine> CreateGstEngine() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        GError* error = nullptr;
        ready = gst_init_check(nullptr, nullptr, &error) != FALSE;
        if (error != nullptr) {
            std::fprintf(stderr, "vurma: GStreamer cannot start: %s\n", error->message);
            g_error_free(error);
        }
        if (ready) ready = RegisterSampleGrabber();
    });
    if (!ready) return nullptr;
    return std::make_shared<GstEngine>();
}

}  // namespace vurma::media
