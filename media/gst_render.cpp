// Rendering a file into the GStreamer graph (uridecodebin, held audio, the
// video branch) and linking the audio branch as the model says.
#include "gst_graph.h"

namespace vurma::media {

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

}  // namespace vurma::media
