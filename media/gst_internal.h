// Pieces the GStreamer engine shares between its graph and its capture decode.
#pragma once

#include <gst/audio/audio.h>

#include <memory>

#include "engine.h"

namespace vurma::media {

// The caps the program takes a decoded stream in (see CaptureFormat), and
// the format they give.
GstCaps* CaptureCaps(const GstAudioInfo& info, WaveFormat* wave);

// The capture decode: uridecodebin that decodes only audio, into the
// grabber element and a sink that does not wait for the clock.
std::shared_ptr<IAudioDecode> CreateGstAudioDecode();

}  // namespace vurma::media
