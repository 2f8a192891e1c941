#include "gst_sample_grabber.h"

#include <gst/base/gstbasetransform.h>

#include <mutex>

#include "engine.h"
#include "grabber_callback.h"

namespace vurma::media {
namespace {

// A mapped buffer seen through the media-sample interface.
class MappedSample final : public IMediaSample {
  public:
    MappedSample(std::uint8_t* data, long length, bool discontinuity)
        : data_(data), length_(length), discontinuity_(discontinuity) {}
    HRESULT GetPointer(std::uint8_t** data) override {
        if (data == nullptr) return E_POINTER;
        *data = data_;
        return S_OK;
    }
    long GetActualDataLength() override { return length_; }
    HRESULT IsPreroll() override { return S_FALSE; }
    HRESULT IsDiscontinuity() override { return discontinuity_ ? S_OK : S_FALSE; }

  private:
    std::uint8_t* data_;
    long length_;
    bool discontinuity_;
};

}  // namespace
}  // namespace vurma::media

extern "C" {

struct VurmaSampleGrabber {
    GstBaseTransform parent;
    vurma::media::ISampleGrabberCB* callback;  // guarded by callLock
    // Held across each call of the callback: once a new callback is set,
    // nothing more reaches the old one.
    GMutex callLock;
};

struct VurmaSampleGrabberClass {
    GstBaseTransformClass parent_class;
};

G_DEFINE_TYPE(VurmaSampleGrabber, vurma_sample_grabber, GST_TYPE_BASE_TRANSFORM)

static GstStaticPadTemplate vurma_grabber_sink =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-raw"));
static GstStaticPadTemplate vurma_grabber_src =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-raw"));

static GstFlowReturn vurma_sample_grabber_transform_ip(GstBaseTransform* trans, GstBuffer* buf) {
    auto* self = reinterpret_cast<VurmaSampleGrabber*>(trans);
    g_mutex_lock(&self->callLock);
    vurma::media::ISampleGrabberCB* callback = self->callback;
    if (callback == nullptr) {
        g_mutex_unlock(&self->callLock);
        return GST_FLOW_OK;
    }

    double seconds = 0.0;
    const GstClockTime pts = GST_BUFFER_PTS(buf);
    if (GST_CLOCK_TIME_IS_VALID(pts)) {
        const guint64 streamTime =
            gst_segment_to_stream_time(&trans->segment, GST_FORMAT_TIME, pts);
        if (GST_CLOCK_TIME_IS_VALID(streamTime))
            seconds = static_cast<double>(streamTime) / GST_SECOND;
    }
    GstMapInfo map;
    if (gst_buffer_map(buf, &map, GST_MAP_READ)) {
        vurma::media::MappedSample sample(map.data, static_cast<long>(map.size),
                                          GST_BUFFER_FLAG_IS_SET(buf, GST_BUFFER_FLAG_DISCONT));
        callback->SampleCB(seconds, &sample);
        gst_buffer_unmap(buf, &map);
    }
    g_mutex_unlock(&self->callLock);
    return GST_FLOW_OK;
}

static void vurma_sample_grabber_finalize(GObject* object) {
    auto* self = reinterpret_cast<VurmaSampleGrabber*>(object);
    if (self->callback != nullptr) self->callback->Release();
    self->callback = nullptr;
    g_mutex_clear(&self->callLock);
    G_OBJECT_CLASS(vurma_sample_grabber_parent_class)->finalize(object);
}

static void vurma_sample_grabber_class_init(VurmaSampleGrabberClass* klass) {
    auto* elementClass = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(elementClass, vurma::media::kSampleGrabberName,
                                          "Filter/Analyzer/Audio",
                                          "Hands every audio buffer to a callback", "Vurma");
    gst_element_class_add_metadata(elementClass, vurma::media::kCategoryMetadataKey,
                                   vurma::media::CLSID_LegacyAmFilterCategory);
    gst_element_class_add_static_pad_template(elementClass, &vurma_grabber_sink);
    gst_element_class_add_static_pad_template(elementClass, &vurma_grabber_src);
    G_OBJECT_CLASS(klass)->finalize = vurma_sample_grabber_finalize;
    auto* transClass = GST_BASE_TRANSFORM_CLASS(klass);
    transClass->transform_ip = vurma_sample_grabber_transform_ip;
    transClass->passthrough_on_same_caps = TRUE;
    transClass->transform_ip_on_passthrough = TRUE;
}

static void vurma_sample_grabber_init(VurmaSampleGrabber* self) {
    self->callback = nullptr;
    g_mutex_init(&self->callLock);
    gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(self), TRUE);
    gst_base_transform_set_in_place(GST_BASE_TRANSFORM(self), TRUE);
}

}  // extern "C"

namespace vurma::media {

bool RegisterSampleGrabber() {
    static std::once_flag once;
    static bool registered = false;
    std::call_once(once, [] {
        registered = gst_element_register(nullptr, kGrabberFactoryName, GST_RANK_NONE,
                                          vurma_sample_grabber_get_type()) != FALSE;
    });
    return registered;
}

void SampleGrabberSetCallback(GstElement* grabber, ISampleGrabberCB* callback) {
    auto* self = reinterpret_cast<VurmaSampleGrabber*>(grabber);
    if (callback != nullptr) callback->AddRef();
    g_mutex_lock(&self->callLock);
    ISampleGrabberCB* previous = self->callback;
    self->callback = callback;
    g_mutex_unlock(&self->callLock);
    if (previous != nullptr) previous->Release();
}

}  // namespace vurma::media
