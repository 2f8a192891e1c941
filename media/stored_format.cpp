#include "media/stored_format.h"

#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <cstring>
#include <mutex>

#include "gst_internal.h"

namespace vurma::media {
namespace {

struct Codec {
    const char* media;  // caps name
    const char* name;
    bool lossless;
};

// Lossless codecs keep integer samples of the stream's depth.
constexpr Codec kCodecs[] = {
    {"audio/x-flac", "FLAC", true},       {"audio/x-alac", "ALAC", true},
    {"audio/x-wavpack", "WavPack", true}, {"audio/x-ape", "Monkey's Audio", true},
    {"audio/x-tta", "TTA", true},         {"audio/x-vorbis", "Vorbis", false},
    {"audio/x-opus", "Opus", false},      {"audio/x-ac3", "AC-3", false},
    {"audio/x-eac3", "E-AC-3", false},    {"audio/x-wma", "WMA", false},
    {"audio/x-speex", "Speex", false},    {"audio/x-dts", "DTS", false},
};

StoredFormat FromStructure(const GstStructure* s, int depth) {
    StoredFormat f;
    const char* name = gst_structure_get_name(s);
    if (std::strcmp(name, "audio/x-raw") == 0) {
        f.codec = "PCM";
        f.lossless = true;
        const GstAudioFormatInfo* info = gst_audio_format_get_info(
            gst_audio_format_from_string(gst_structure_get_string(s, "format")));
        if (info != nullptr && info->format != GST_AUDIO_FORMAT_UNKNOWN) {
            const int bits = GST_AUDIO_FORMAT_INFO_DEPTH(info);
            f.bits = bits;
            f.sampleFormat = (GST_AUDIO_FORMAT_INFO_IS_FLOAT(info)    ? "f"
                              : GST_AUDIO_FORMAT_INFO_IS_SIGNED(info) ? "s"
                                                                      : "u") +
                             std::to_string(bits);
        }
    } else if (std::strcmp(name, "audio/x-mulaw") == 0 || std::strcmp(name, "audio/x-alaw") == 0) {
        f.codec = "PCM";
        f.lossless = true;
        f.sampleFormat = name[8] == 'm' ? "mulaw" : "alaw";
        f.bits = 8;
    } else if (std::strcmp(name, "audio/mpeg") == 0) {
        int version = 0, layer = 0;
        gst_structure_get_int(s, "mpegversion", &version);
        gst_structure_get_int(s, "layer", &layer);
        f.codec = version == 1 ? "MPEG-1 Layer " + std::to_string(layer > 0 ? layer : 3) : "AAC";
    } else {
        for (const Codec& c : kCodecs) {
            if (std::strcmp(name, c.media) != 0) continue;
            f.codec = c.name;
            f.lossless = c.lossless;
        }
        if (f.codec.empty() && g_str_has_prefix(name, "audio/")) {
            GstCaps* caps = gst_caps_new_empty();
            gst_caps_append_structure(caps, gst_structure_copy(s));
            gchar* description = gst_pb_utils_get_codec_description(caps);
            f.codec = description != nullptr ? description : name;
            g_free(description);
            gst_caps_unref(caps);
        }
    }
    if (f.lossless && f.codec != "PCM" && depth > 0) {
        f.bits = depth;
        f.sampleFormat = (depth == 8 ? "u" : "s") + std::to_string(depth);
    }
    return f;
}

}  // namespace

StoredFormat StoredFormatFromCaps(const std::string& text, int depth) {
    gst_init(nullptr, nullptr);
    StoredFormat f;
    GstCaps* caps = gst_caps_from_string(text.c_str());
    if (caps != nullptr && gst_caps_get_size(caps) > 0)
        f = FromStructure(gst_caps_get_structure(caps, 0), depth);
    if (caps != nullptr) gst_caps_unref(caps);
    return f;
}

namespace {

// What the probe pipeline saw: the first audio caps a demuxer or parser
// gave (the stream as stored) and the decoded caps.
struct Probe {
    std::mutex mutex;
    GstCaps* stored = nullptr;
    GstCaps* decoded = nullptr;
    GstElement* pipeline = nullptr;
};

gboolean OnContinue(GstElement*, GstPad*, GstCaps* caps, gpointer data) {
    auto* probe = static_cast<Probe*>(data);
    if (caps != nullptr && gst_caps_get_size(caps) > 0 &&
        g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/") &&
        !IsContainerCaps(caps)) {
        std::lock_guard lock(probe->mutex);
        if (probe->stored == nullptr) probe->stored = gst_caps_copy(caps);
    }
    return TRUE;
}

// Every decoded stream ends in a sink of its own, so that the file prerolls.
void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* probe = static_cast<Probe*>(data);
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (caps != nullptr) {
        std::lock_guard lock(probe->mutex);
        if (probe->decoded == nullptr && gst_caps_get_size(caps) > 0 &&
            g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/"))
            probe->decoded = gst_caps_ref(caps);
        gst_caps_unref(caps);
    }
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    if (sink == nullptr) return;
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add(GST_BIN(probe->pipeline), sink);
    GstPad* in = gst_element_get_static_pad(sink, "sink");
    gst_pad_link(pad, in);
    gst_object_unref(in);
    gst_element_sync_state_with_parent(sink);
}

}  // namespace

bool ProbeStoredFormat(const std::string& utf8Path, StoredFormat* out) {
    gst_init(nullptr, nullptr);
    gchar* uri = gst_filename_to_uri(utf8Path.c_str(), nullptr);
    GstElement* decode =
        uri != nullptr ? gst_element_factory_make("uridecodebin", nullptr) : nullptr;
    if (decode == nullptr) {
        g_free(uri);
        return false;
    }
    Probe probe;
    probe.pipeline = gst_pipeline_new(nullptr);
    g_object_set(decode, "uri", uri, nullptr);
    g_free(uri);
    g_signal_connect(decode, "autoplug-continue", G_CALLBACK(&OnContinue), &probe);
    g_signal_connect(decode, "pad-added", G_CALLBACK(&OnPadAdded), &probe);
    gst_bin_add(GST_BIN(probe.pipeline), decode);

    // Prerolled means every stream has been found and decoded once.
    bool prerolled = false;
    if (gst_element_set_state(probe.pipeline, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE) {
        GstBus* bus = gst_element_get_bus(probe.pipeline);
        GstMessage* message = gst_bus_timed_pop_filtered(
            bus, 10 * GST_SECOND,
            static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR));
        prerolled = message != nullptr && GST_MESSAGE_TYPE(message) == GST_MESSAGE_ASYNC_DONE;
        if (message != nullptr) gst_message_unref(message);
        gst_object_unref(bus);
    }
    gst_element_set_state(probe.pipeline, GST_STATE_NULL);
    gst_object_unref(probe.pipeline);

    bool found = false;
    if (prerolled && probe.stored != nullptr && probe.decoded != nullptr) {
        int depth = 0;
        GstAudioInfo info;
        if (gst_audio_info_from_caps(&info, probe.decoded)) depth = GST_AUDIO_INFO_DEPTH(&info);
        const StoredFormat f = FromStructure(gst_caps_get_structure(probe.stored, 0), depth);
        if (!f.codec.empty()) {
            *out = f;
            found = true;
        }
    }
    if (probe.stored != nullptr) gst_caps_unref(probe.stored);
    if (probe.decoded != nullptr) gst_caps_unref(probe.decoded);
    return found;
}

}  // namespace vurma::media
