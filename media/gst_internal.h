// Pieces the GStreamer engine shares between its graph and its capture decode.
#pragma once

#include <gst/audio/audio.h>

#include <memory>

#include "engine.h"

namespace vurma::media {

// Sets up the converter and caps filter that bring a decoded stream with
// caps `decoded` to the format the program takes (see CaptureFormat), and
// gives that format. False when the caps are not usable audio.
bool SetUpCaptureConversion(GstCaps* decoded, GstElement* convert, GstElement* filter,
                            WaveFormat* wave);

// The capture decode: uridecodebin that decodes only audio, into the
// grabber element and a sink that does not wait for the clock.
std::shared_ptr<IAudioDecode> CreateGstAudioDecode();

}  // namespace vurma::media
