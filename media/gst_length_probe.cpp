// The length of a stream whose headers do not tell it: parsed once through
// (MeasureStreamLength) or estimated from the parser's byte rate
// (EstimateStreamLength). Runs on the thread that loads the file.
#include <gst/base/gstbaseparse.h>
#include <gst/gst.h>

#include <cstdio>
#include <string>

#include "gst_internal.h"

namespace vurma::media {
namespace {

GstElement* Make(const char* factory) {
    GstElement* e = gst_element_factory_make(factory, nullptr);
    if (e == nullptr) std::fprintf(stderr, "vurma: GStreamer element %s is missing\n", factory);
    return e;
}

// Every parsed stream runs into a sink of its own, as fast as it parses.
void OnMeasurePad(GstElement*, GstPad* pad, gpointer pipe) {
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    if (sink == nullptr) return;
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add(GST_BIN(pipe), sink);
    gst_element_sync_state_with_parent(sink);
    GstPad* sinkPad = gst_element_get_static_pad(sink, "sink");
    gst_pad_link(pad, sinkPad);
    gst_object_unref(sinkPad);
}

}  // namespace

// A stream without a length in its headers is parsed once through,
// without decoding, and its end read: the estimate from the first frames
// can be far off for a variable bit rate, and the capture is sized by
// the length. -1 when the file cannot be parsed so.
gint64 MeasureStreamLength(const std::string& path) {
    if (path.empty()) return -1;
    GstElement* pipe = gst_pipeline_new(nullptr);
    GstElement* src = Make("filesrc");
    GstElement* parse = Make("parsebin");
    if (src == nullptr || parse == nullptr) {
        if (src != nullptr) gst_object_unref(src);
        if (parse != nullptr) gst_object_unref(parse);
        gst_object_unref(pipe);
        return -1;
    }
    g_object_set(src, "location", path.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(pipe), src, parse, nullptr);
    gst_element_link(src, parse);
    // Every parsed stream runs into a sink of its own, as fast as it parses.
    g_signal_connect(parse, "pad-added", G_CALLBACK(&OnMeasurePad), pipe);
    gint64 end = -1;
    if (gst_element_set_state(pipe, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
        GstBus* bus = gst_element_get_bus(pipe);
        GstMessage* msg = gst_bus_timed_pop_filtered(
            bus, 30 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
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

// A stream without a length in its headers (an MP3 without a Xing
// header, say) is measured as its parser would: file size over the
// byte rate of the frames parsed so far.
gint64 EstimateStreamLength(GstElement* pipeline) {
    gint64 result = -1;
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(pipeline));
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

}  // namespace vurma::media
