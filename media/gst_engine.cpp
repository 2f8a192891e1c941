// The GStreamer graph's bus messages, its decoder's pads and its video
// frames (the class is in gst_graph.h), and the graph's factory.
#include "gst_graph.h"

namespace vurma::media {

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

std::shared_ptr<IGraphBuilder> CreateGstGraph() { return std::make_shared<GstGraph>(); }

void SetGstGraphRotName(const std::shared_ptr<IGraphBuilder>& graph, const std::string& name) {
    if (auto g = std::dynamic_pointer_cast<GstGraph>(graph)) g->SetRotName(name);
}

}  // namespace vurma::media
