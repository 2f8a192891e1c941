// How a file stores its first audio stream, read from the container and
// the parser before anything is decoded or converted: the codec, whether it
// is lossless, the sample format and width. GStreamer stays inside.
//
// Any thread; blocks while the file is examined (at most a few seconds).
#pragma once

#include <string>

#include "analysis/recording_report.h"

namespace vurma::media {

// False when the file cannot be examined or has no audio (out untouched).
bool ProbeStoredFormat(const std::string& utf8Path, StoredFormat* out);

// The stored format described by stream caps in GStreamer's text form
// ("audio/x-raw, format=(string)F32LE, ..."); an empty codec for caps that
// are not audio. Exposed for tests.
StoredFormat StoredFormatFromCaps(const std::string& caps, int depth);

}  // namespace vurma::media
