// The filters and pins of the GStreamer engine: the model the program
// rewires ("Source", "Decoder", "AudioRenderer", "VideoRenderer" and the
// grabber), over the pipeline the graph builds. The connection rules live in
// connection_rules.h. Used on the thread that uses the graph.
#pragma once

#include <gst/gst.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "connection_rules.h"
#include "engine.h"
#include "gst_sample_grabber.h"

namespace vurma::media {

enum class FilterKind { Source, Decoder, AudioRenderer, VideoRenderer, Grabber };

class GFilter;

class GPin final : public IPin, public std::enable_shared_from_this<GPin> {
  public:
    GPin(GFilter* owner, std::string name, PinDirection dir, std::vector<MediaType> types)
        : name(std::move(name)), dir(dir), types(std::move(types)), owner(owner) {}
    HRESULT QueryDirection(PinDirection* out) override {
        if (out == nullptr) return E_POINTER;
        *out = dir;
        return S_OK;
    }
    HRESULT QueryPinInfo(PinInfo* info) override {
        if (info == nullptr) return E_POINTER;
        info->name = name;
        info->dir = dir;
        return S_OK;
    }
    HRESULT ConnectedTo(std::shared_ptr<IPin>* out) override {
        if (out == nullptr) return E_POINTER;
        auto p = peer.lock();
        if (p == nullptr) return E_NOT_CONNECTED;
        *out = p;
        return S_OK;
    }
    HRESULT EnumMediaTypes(std::shared_ptr<IEnumMediaTypes>* out) override {
        if (out == nullptr) return E_POINTER;
        *out = std::make_shared<VectorEnum<MediaType>>(types);
        return S_OK;
    }
    bool IsAudio() const { return OffersAudio(types); }

    std::string name;
    PinDirection dir;
    std::vector<MediaType> types;
    std::weak_ptr<GPin> peer;
    GFilter* owner;
};

class GFilter final : public IBaseFilter,
                      public ISampleGrabber,
                      public std::enable_shared_from_this<GFilter> {
  public:
    GFilter(FilterKind kind, std::string name) : kind(kind), name(std::move(name)) {}
    ~GFilter() override {
        if (element != nullptr) gst_object_unref(element);
    }
    std::shared_ptr<GPin> AddPin(std::string pinName, PinDirection dir,
                                 std::vector<MediaType> types = {}) {
        pins.push_back(std::make_shared<GPin>(this, std::move(pinName), dir, std::move(types)));
        return pins.back();
    }
    std::shared_ptr<GPin> Pin(const char* pinName) const {
        for (const auto& p : pins) {
            if (p->name == pinName) return p;
        }
        return nullptr;
    }

    HRESULT QueryFilterInfo(FilterInfo* info) override {
        if (info == nullptr) return E_POINTER;
        info->name = name;
        return S_OK;
    }
    HRESULT EnumPins(std::shared_ptr<IEnumPins>* out) override {
        if (out == nullptr) return E_POINTER;
        *out = std::make_shared<VectorEnum<std::shared_ptr<IPin>>>(
            std::vector<std::shared_ptr<IPin>>(pins.begin(), pins.end()));
        return S_OK;
    }
    HRESULT QuerySampleGrabber(std::shared_ptr<ISampleGrabber>* out) override {
        if (out == nullptr) return E_POINTER;
        if (kind != FilterKind::Grabber) return E_NOINTERFACE;
        *out =
            std::shared_ptr<ISampleGrabber>(shared_from_this(), static_cast<ISampleGrabber*>(this));
        return S_OK;
    }
    HRESULT SetOneShot(bool oneShot) override { return oneShot ? E_NOTIMPL : S_OK; }
    HRESULT SetBufferSamples(bool bufferThem) override { return bufferThem ? E_NOTIMPL : S_OK; }
    HRESULT SetCallback(ISampleGrabberCB* callback, int whichMethod) override {
        if (whichMethod != 0) return E_NOTIMPL;
        SampleGrabberSetCallback(element, callback);
        return S_OK;
    }

    FilterKind kind;
    std::string name;
    std::vector<std::shared_ptr<GPin>> pins;
    GstElement* element = nullptr;  // the grabber's element (one reference)
};

}  // namespace vurma::media
