// The capture decode on GStreamer: uridecodebin plugs demuxers and audio
// decoders only (other streams are demuxed and dropped undecoded); the first
// audio stream goes through the capture format's conversion into the grabber
// element and an unsynchronised sink.
#include <gst/gst.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "background.h"
#include "gst_internal.h"
#include "gst_sample_grabber.h"

namespace vurma::media {
namespace {

// What the streaming threads share with the decode. It lives until the
// pipeline has been set to NULL, which may happen on a background thread
// long after the decode object is gone.
struct DecodeState {
    GstElement* pipeline = nullptr;  // both set, or neither
    GstElement* grabber = nullptr;
    WaveFormat format;
    std::function<void(HRESULT)> ended;
    std::atomic<std::uint64_t> buffers{0};
    std::mutex mutex;
    bool stopped = false;     // guarded by mutex
    bool endSent = false;     // guarded by mutex
    bool audioTaken = false;  // guarded by mutex

    ~DecodeState() {
        if (pipeline == nullptr) return;
        gst_element_set_state(pipeline, GST_STATE_NULL);
        GstBus* bus = gst_element_get_bus(pipeline);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        gst_object_unref(pipeline);
        gst_object_unref(grabber);
    }
};

class GstAudioDecode final : public IAudioDecode {
  public:
    ~GstAudioDecode() override { Stop(); }

    HRESULT Start(const std::string& utf8Path, const WaveFormat& format, ISampleGrabberCB* callback,
                  std::function<void(HRESULT)> ended) override {
        if (state_ != nullptr || callback == nullptr) return E_FAIL;
        gchar* uri = gst_filename_to_uri(utf8Path.c_str(), nullptr);
        if (uri == nullptr) return E_FAIL;
        // Every element is made before any is kept: a decode either has its
        // pipeline and its grabber, or has nothing.
        GstElement* pipeline = gst_pipeline_new("capture");
        GstElement* source = gst_element_factory_make("uridecodebin", nullptr);
        GstElement* grabber = gst_element_factory_make(kGrabberFactoryName, nullptr);
        if (pipeline == nullptr || source == nullptr || grabber == nullptr) {
            g_free(uri);
            for (GstElement* e : {pipeline, source, grabber})
                if (e != nullptr) gst_object_unref(gst_object_ref_sink(e));
            return E_FAIL;
        }
        auto state = std::make_shared<DecodeState>();
        state->pipeline = GST_ELEMENT(gst_object_ref_sink(pipeline));
        state->grabber = GST_ELEMENT(gst_object_ref_sink(grabber));
        state->format = format;
        state->ended = std::move(ended);
        SampleGrabberSetCallback(state->grabber, callback);
        g_object_set(source, "uri", uri, nullptr);
        g_free(uri);
        gst_bin_add(GST_BIN(state->pipeline), source);
        g_signal_connect(source, "autoplug-continue", G_CALLBACK(&GstAudioDecode::OnContinue),
                         nullptr);
        g_signal_connect(source, "pad-added", G_CALLBACK(&GstAudioDecode::OnPadAdded), state.get());
        GstBus* bus = gst_element_get_bus(state->pipeline);
        gst_bus_set_sync_handler(bus, &GstAudioDecode::OnBusMessage, state.get(), nullptr);
        gst_object_unref(bus);
        state_ = state;
        if (gst_element_set_state(state->pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            Stop();
            return E_FAIL;
        }
        return S_OK;
    }

    // Never waits for the pipeline: the callback is let go at once and the
    // pipeline is set to NULL on a background thread, where a decoder stuck
    // in a read cannot hold up the caller.
    void Stop() override {
        if (state_ == nullptr) return;
        {
            std::lock_guard lock(state_->mutex);
            state_->stopped = true;
            state_->ended = nullptr;
        }
        SampleGrabberSetCallback(state_->grabber, nullptr);
        Reap(std::move(state_));
        state_.reset();
    }

    std::uint64_t Progress() const override {
        return state_ != nullptr ? state_->buffers.load(std::memory_order_relaxed) : 0;
    }

  private:
    // Decoding goes on for audio and containers; any other stream is exposed
    // as it is and dropped.
    static gboolean OnContinue(GstElement*, GstPad*, GstCaps* caps, gpointer) {
        if (caps == nullptr || gst_caps_get_size(caps) == 0) return TRUE;
        const gchar* name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
        if (g_str_has_prefix(name, "audio/")) return TRUE;
        return IsContainerCaps(caps) ? TRUE : FALSE;
    }

    static void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
        PadAdded(static_cast<DecodeState*>(data), pad);
    }

    static GstPadProbeReturn OnBuffer(GstPad*, GstPadProbeInfo*, gpointer data) {
        static_cast<DecodeState*>(data)->buffers.fetch_add(1, std::memory_order_relaxed);
        return GST_PAD_PROBE_OK;
    }

    // Streaming thread: a stream exposed before its format is settled gets
    // its branch once its caps arrive.
    static void PadAdded(DecodeState* self, GstPad* pad) {
        GstCaps* caps = gst_pad_get_current_caps(pad);
        if (caps == nullptr) {
            gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &OnStreamCaps, self,
                              nullptr);
            return;
        }
        PadAddedWithCaps(self, pad, caps);
    }

    static GstPadProbeReturn OnStreamCaps(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS) return GST_PAD_PROBE_OK;
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        PadAddedWithCaps(static_cast<DecodeState*>(data), pad, gst_caps_ref(caps));
        return GST_PAD_PROBE_REMOVE;
    }

    // Takes the caps' reference.
    static void PadAddedWithCaps(DecodeState* self, GstPad* pad, GstCaps* caps) {
        bool takeAudio = false;
        if (caps != nullptr && gst_caps_get_size(caps) > 0 &&
            g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)),
                             "audio/x-raw")) {
            std::lock_guard lock(self->mutex);
            takeAudio = !self->audioTaken;
            self->audioTaken = true;
        }
        GstElement* head = nullptr;
        if (takeAudio) {
            WaveFormat wave;
            GstElement* convert = gst_element_factory_make("audioconvert", nullptr);
            GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
            GstElement* sink = gst_element_factory_make("fakesink", nullptr);
            const bool ready = convert != nullptr && filter != nullptr && sink != nullptr &&
                               SetUpCaptureConversion(caps, convert, filter, &wave);
            const WaveFormat& want = self->format;
            if (ready && wave.channels == want.channels &&
                wave.bitsPerSample == want.bitsPerSample &&
                wave.samplesPerSec == want.samplesPerSec) {
                g_object_set(sink, "sync", FALSE, nullptr);
                gst_bin_add_many(GST_BIN(self->pipeline), convert, filter, self->grabber, sink,
                                 nullptr);
                gst_element_link_many(convert, filter, self->grabber, sink, nullptr);
                GstPad* counted = gst_element_get_static_pad(self->grabber, "sink");
                gst_pad_add_probe(counted, GST_PAD_PROBE_TYPE_BUFFER, &GstAudioDecode::OnBuffer,
                                  self, nullptr);
                gst_object_unref(counted);
                gst_element_sync_state_with_parent(sink);
                gst_element_sync_state_with_parent(self->grabber);
                gst_element_sync_state_with_parent(filter);
                gst_element_sync_state_with_parent(convert);
                head = convert;
            } else {
                // Not the stream the load measured: the capture cannot use it.
                for (GstElement* e : {convert, filter, sink})
                    if (e != nullptr) gst_object_unref(gst_object_ref_sink(e));
                Ended(self, E_FAIL);
            }
        }
        if (caps != nullptr) gst_caps_unref(caps);
        if (head == nullptr) {
            head = gst_element_factory_make("fakesink", nullptr);
            if (head == nullptr) return;
            g_object_set(head, "sync", FALSE, "async", FALSE, nullptr);
            gst_bin_add(GST_BIN(self->pipeline), head);
            gst_element_sync_state_with_parent(head);
        }
        GstPad* sinkPad = gst_element_get_static_pad(head, "sink");
        gst_pad_link(pad, sinkPad);
        gst_object_unref(sinkPad);
    }

    static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
        auto* self = static_cast<DecodeState*>(data);
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
            bool taken;
            {
                std::lock_guard lock(self->mutex);
                taken = self->audioTaken;
            }
            Ended(self, taken ? S_OK : E_FAIL);
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            Ended(self, E_FAIL);
        }
        gst_message_unref(message);
        return GST_BUS_DROP;
    }

    // Reports the end once; never after Stop.
    static void Ended(DecodeState* self, HRESULT hr) {
        std::lock_guard lock(self->mutex);
        if (self->stopped || self->endSent) return;
        self->endSent = true;
        // Called under the lock, so that Stop cannot return while the end
        // is being delivered.
        if (self->ended) self->ended(hr);
    }

    std::shared_ptr<DecodeState> state_;
};

}  // namespace

std::shared_ptr<IAudioDecode> CreateGstAudioDecode() { return std::make_shared<GstAudioDecode>(); }

}  // namespace vurma::media
