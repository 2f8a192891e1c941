// The capture decode on GStreamer: uridecodebin plugs demuxers and audio
// decoders only (other streams are demuxed and dropped undecoded); the first
// audio stream goes through the capture format's conversion into the grabber
// element and an unsynchronised sink.
#include <gst/gst.h>

#include <atomic>
#include <mutex>
#include <utility>

#include "gst_internal.h"
#include "gst_sample_grabber.h"

namespace vurma::media {
namespace {

// Caps a demuxer takes: such streams are containers and must be opened.
bool IsContainer(GstCaps* caps) {
    static GList* demuxers =
        gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DEMUXER, GST_RANK_MARGINAL);
    GList* found = gst_element_factory_list_filter(demuxers, caps, GST_PAD_SINK, FALSE);
    const bool container = found != nullptr;
    gst_plugin_feature_list_free(found);
    return container;
}

class GstAudioDecode final : public IAudioDecode {
  public:
    ~GstAudioDecode() override { Stop(); }

    HRESULT Start(const std::string& utf8Path, const WaveFormat& format, ISampleGrabberCB* callback,
                  std::function<void(HRESULT)> ended) override {
        if (pipeline_ != nullptr || callback == nullptr) return E_FAIL;
        gchar* uri = gst_filename_to_uri(utf8Path.c_str(), nullptr);
        if (uri == nullptr) return E_FAIL;
        format_ = format;
        ended_ = std::move(ended);
        pipeline_ = gst_pipeline_new("capture");
        gst_object_ref_sink(pipeline_);
        GstElement* source = gst_element_factory_make("uridecodebin", nullptr);
        grabber_ = gst_element_factory_make(kGrabberFactoryName, nullptr);
        if (source == nullptr || grabber_ == nullptr) {
            g_free(uri);
            if (source != nullptr) gst_object_unref(source);
            return E_FAIL;
        }
        gst_object_ref_sink(grabber_);
        SampleGrabberSetCallback(grabber_, callback);
        g_object_set(source, "uri", uri, nullptr);
        g_free(uri);
        gst_bin_add(GST_BIN(pipeline_), source);
        g_signal_connect(source, "autoplug-continue", G_CALLBACK(&GstAudioDecode::OnContinue),
                         nullptr);
        g_signal_connect(source, "pad-added", G_CALLBACK(&GstAudioDecode::OnPadAdded), this);
        GstBus* bus = gst_element_get_bus(pipeline_);
        gst_bus_set_sync_handler(bus, &GstAudioDecode::OnBusMessage, this, nullptr);
        gst_object_unref(bus);
        if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            Stop();
            return E_FAIL;
        }
        return S_OK;
    }

    void Stop() override {
        if (pipeline_ == nullptr) return;
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        GstBus* bus = gst_element_get_bus(pipeline_);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        SampleGrabberSetCallback(grabber_, nullptr);
        gst_object_unref(pipeline_);
        gst_object_unref(grabber_);
        pipeline_ = nullptr;
        grabber_ = nullptr;
    }

    std::uint64_t Progress() const override { return buffers_.load(std::memory_order_relaxed); }

  private:
    // Decoding goes on for audio and containers; any other stream is exposed
    // as it is and dropped.
    static gboolean OnContinue(GstElement*, GstPad*, GstCaps* caps, gpointer) {
        if (caps == nullptr || gst_caps_get_size(caps) == 0) return TRUE;
        const gchar* name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
        if (g_str_has_prefix(name, "audio/")) return TRUE;
        return IsContainer(caps) ? TRUE : FALSE;
    }

    static void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
        static_cast<GstAudioDecode*>(data)->PadAdded(pad);
    }

    static GstPadProbeReturn OnBuffer(GstPad*, GstPadProbeInfo*, gpointer data) {
        static_cast<GstAudioDecode*>(data)->buffers_.fetch_add(1, std::memory_order_relaxed);
        return GST_PAD_PROBE_OK;
    }

    // Streaming thread.
    void PadAdded(GstPad* pad) {
        GstCaps* caps = gst_pad_get_current_caps(pad);
        if (caps == nullptr) caps = gst_pad_query_caps(pad, nullptr);
        bool takeAudio = false;
        if (caps != nullptr && gst_caps_get_size(caps) > 0 &&
            g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)),
                             "audio/x-raw")) {
            std::lock_guard lock(mutex_);
            takeAudio = !audioTaken_;
            audioTaken_ = true;
        }
        GstElement* head = nullptr;
        if (takeAudio) {
            WaveFormat wave;
            GstElement* convert = gst_element_factory_make("audioconvert", nullptr);
            GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
            GstElement* sink = gst_element_factory_make("fakesink", nullptr);
            const bool ready = convert != nullptr && filter != nullptr && sink != nullptr &&
                               SetUpCaptureConversion(caps, convert, filter, &wave);
            if (ready && wave.channels == format_.channels &&
                wave.bitsPerSample == format_.bitsPerSample &&
                wave.samplesPerSec == format_.samplesPerSec) {
                g_object_set(sink, "sync", FALSE, nullptr);
                gst_bin_add_many(GST_BIN(pipeline_), convert, filter, grabber_, sink, nullptr);
                gst_element_link_many(convert, filter, grabber_, sink, nullptr);
                GstPad* counted = gst_element_get_static_pad(grabber_, "sink");
                gst_pad_add_probe(counted, GST_PAD_PROBE_TYPE_BUFFER, &GstAudioDecode::OnBuffer,
                                  this, nullptr);
                gst_object_unref(counted);
                gst_element_sync_state_with_parent(sink);
                gst_element_sync_state_with_parent(grabber_);
                gst_element_sync_state_with_parent(filter);
                gst_element_sync_state_with_parent(convert);
                head = convert;
            } else {
                // Not the stream the load measured: the capture cannot use it.
                for (GstElement* e : {convert, filter, sink})
                    if (e != nullptr) gst_object_unref(e);
                Ended(E_FAIL);
            }
        }
        if (caps != nullptr) gst_caps_unref(caps);
        if (head == nullptr) {
            head = gst_element_factory_make("fakesink", nullptr);
            if (head == nullptr) return;
            g_object_set(head, "sync", FALSE, "async", FALSE, nullptr);
            gst_bin_add(GST_BIN(pipeline_), head);
            gst_element_sync_state_with_parent(head);
        }
        GstPad* sinkPad = gst_element_get_static_pad(head, "sink");
        gst_pad_link(pad, sinkPad);
        gst_object_unref(sinkPad);
    }

    static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
        auto* self = static_cast<GstAudioDecode*>(data);
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
            self->Ended(self->audioTaken() ? S_OK : E_FAIL);
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            self->Ended(E_FAIL);
        }
        gst_message_unref(message);
        return GST_BUS_DROP;
    }

    bool audioTaken() {
        std::lock_guard lock(mutex_);
        return audioTaken_;
    }

    // Reports the end once; never after Stop.
    void Ended(HRESULT hr) {
        std::function<void(HRESULT)> ended;
        {
            std::lock_guard lock(mutex_);
            if (stopped_ || endSent_) return;
            endSent_ = true;
            ended = ended_;
            // Called under the lock, so that Stop cannot return while the
            // end is being delivered.
            if (ended) ended(hr);
        }
    }

    GstElement* pipeline_ = nullptr;
    GstElement* grabber_ = nullptr;
    WaveFormat format_;
    std::function<void(HRESULT)> ended_;
    std::atomic<std::uint64_t> buffers_{0};
    std::mutex mutex_;
    bool stopped_ = false;     // guarded by mutex_
    bool endSent_ = false;     // guarded by mutex_
    bool audioTaken_ = false;  // guarded by mutex_
};

}  // namespace

std::shared_ptr<IAudioDecode> CreateGstAudioDecode() { return std::make_shared<GstAudioDecode>(); }

}  // namespace vurma::media
