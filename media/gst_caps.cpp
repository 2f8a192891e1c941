// The decoded format the program takes, and the conversion that brings any
// decoded stream to it.
#include <gst/audio/audio.h>
#include <gst/gst.h>

#include "gst_internal.h"

namespace vurma::media {
namespace {

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

bool IsContainerCaps(GstCaps* caps) {
    static GList* demuxers =
        gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DEMUXER, GST_RANK_MARGINAL);
    GList* found = gst_element_factory_list_filter(demuxers, caps, GST_PAD_SINK, FALSE);
    const bool container = found != nullptr;
    gst_plugin_feature_list_free(found);
    return container;
}

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

}  // namespace vurma::media
