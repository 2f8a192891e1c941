// The "SampleGrabber" element: passes audio buffers on unchanged and hands
// each one to an ISampleGrabberCB on the streaming thread.
#pragma once

#include <gst/gst.h>

namespace vurma::media {

class ISampleGrabberCB;

inline constexpr char kGrabberFactoryName[] = "vurmasamplegrabber";
// Element-factory metadata key naming the filter category an element belongs to.
inline constexpr char kCategoryMetadataKey[] = "vurma-category";

// Registers the element in-process (once; later calls only report the result).
bool RegisterSampleGrabber();

// Replaces the element's callback: takes a reference to `callback` (may be
// null) and drops the one to the previous callback. Waits for a call of
// the previous callback in progress; none follows.
void SampleGrabberSetCallback(GstElement* grabber, ISampleGrabberCB* callback);

}  // namespace vurma::media
