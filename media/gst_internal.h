// Pieces the GStreamer engine shares between its graph and its capture decode.
#pragma once

#include <gst/audio/audio.h>

#include <memory>
#include <string>

#include "engine.h"

namespace vurma::media {

// Sets up the converter and caps filter that bring a decoded stream with
// caps `decoded` to the format the program takes (see CaptureFormat), and
// gives that format. False when the caps are not usable audio.
bool SetUpCaptureConversion(GstCaps* decoded, GstElement* convert, GstElement* filter,
                            WaveFormat* wave);

// True for caps a demuxer takes (a WAV or MP4 file as a whole): such a
// stream is a container to open, not the audio itself.
bool IsContainerCaps(GstCaps* caps);

// The capture decode: uridecodebin that decodes only audio, into the
// grabber element and a sink that does not wait for the clock.
std::shared_ptr<IAudioDecode> CreateGstAudioDecode();

// A new, empty graph (gst_engine.cpp).
std::shared_ptr<IGraphBuilder> CreateGstGraph();
// Names a graph of CreateGstGraph for outside inspection (its registration).
void SetGstGraphRotName(const std::shared_ptr<IGraphBuilder>& graph, const std::string& name);

// The length of the file at `path` parsed once through without decoding;
// -1 when it cannot be parsed so. Blocks for up to 30 s: never on the GUI
// thread.
gint64 MeasureStreamLength(const std::string& path);
// The length of the audio stream a parser in `pipeline` has begun, from the
// file size over its byte rate so far; -1 when none can tell.
gint64 EstimateStreamLength(GstElement* pipeline);

}  // namespace vurma::media
