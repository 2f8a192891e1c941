// The engine's factory and the device emulation around the graph: the
// category of creatable filters (the grabber only), its property bags and
// monikers, the running object table, and the engine's start.
#include <gst/gst.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "gst_filters.h"
#include "gst_internal.h"
#include "gst_sample_grabber.h"
#include "media_session.h"

namespace vurma::media {
namespace {

class GstCaptureBuilder final : public ICaptureGraphBuilder2 {};

class GstBag final : public IPropertyBag {
  public:
    GstBag(std::string friendly, std::string clsid)
        : friendly_(std::move(friendly)), clsid_(std::move(clsid)) {}
    HRESULT Read(const std::string& property, std::string* value) override {
        if (value == nullptr) return E_POINTER;
        if (property == "FriendlyName")
            *value = friendly_;
        else if (property == "CLSID")
            *value = clsid_;
        else
            return E_FAIL;
        return S_OK;
    }

  private:
    std::string friendly_, clsid_;
};

class GstMoniker final : public IMoniker {
  public:
    GstMoniker(std::string friendly, std::string clsid)
        : friendly_(std::move(friendly)), clsid_(std::move(clsid)) {}
    HRESULT BindToStorage(std::shared_ptr<IPropertyBag>* bag) override {
        if (bag == nullptr) return E_POINTER;
        *bag = std::make_shared<GstBag>(friendly_, clsid_);
        return S_OK;
    }

  private:
    std::string friendly_, clsid_;
};

// The category's entries are the element factories that name it in their metadata.
class GstDevEnum final : public ICreateDevEnum {
  public:
    HRESULT CreateClassEnumerator(const CategoryId& category, std::shared_ptr<IEnumMoniker>* out,
                                  int) override {
        if (out == nullptr) return E_POINTER;
        std::vector<std::shared_ptr<IMoniker>> items;
        GList* factories =
            gst_registry_get_feature_list(gst_registry_get(), GST_TYPE_ELEMENT_FACTORY);
        for (GList* l = factories; l != nullptr; l = l->next) {
            auto* factory = GST_ELEMENT_FACTORY(l->data);
            const gchar* cat = gst_element_factory_get_metadata(factory, kCategoryMetadataKey);
            if (cat == nullptr || category != cat) continue;
            const gchar* longName =
                gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME);
            items.push_back(std::make_shared<GstMoniker>(longName != nullptr ? longName : "",
                                                         GST_OBJECT_NAME(factory)));
        }
        gst_plugin_feature_list_free(factories);
        *out = std::make_shared<VectorEnum<std::shared_ptr<IMoniker>>>(std::move(items));
        return S_OK;
    }
};

class GstRot final : public IRunningObjectTable {
  public:
    HRESULT Register(const std::string& itemName, const std::shared_ptr<IGraphBuilder>& graph,
                     std::uint32_t* cookie) override {
        if (cookie == nullptr) return E_POINTER;
        SetGstGraphRotName(graph, itemName);
        static std::uint32_t next = 1;
        *cookie = next++;
        return S_OK;
    }
    HRESULT Revoke(std::uint32_t) override { return S_OK; }
};

class GstEngine final : public IEngine {
  public:
    HRESULT CreateGraphBuilder(std::shared_ptr<IGraphBuilder>* out) override {
        if (out == nullptr) return E_POINTER;
        *out = CreateGstGraph();
        return S_OK;
    }
    HRESULT CreateCaptureGraphBuilder(std::shared_ptr<ICaptureGraphBuilder2>* out) override {
        if (out == nullptr) return E_POINTER;
        *out = std::make_shared<GstCaptureBuilder>();
        return S_OK;
    }
    HRESULT CreateDevEnum(std::shared_ptr<ICreateDevEnum>* out) override {
        if (out == nullptr) return E_POINTER;
        *out = std::make_shared<GstDevEnum>();
        return S_OK;
    }
    HRESULT GetRunningObjectTable(std::shared_ptr<IRunningObjectTable>* out) override {
        if (out == nullptr) return E_POINTER;
        *out = std::make_shared<GstRot>();
        return S_OK;
    }
    HRESULT ClsidFromString(const std::string& text, Clsid* clsid) override {
        if (clsid == nullptr) return E_POINTER;
        if (text.empty()) return E_CLASS_STRING;
        *clsid = text;
        return S_OK;
    }
    HRESULT CreateFilter(const Clsid& clsid, std::shared_ptr<IBaseFilter>* out) override {
        if (out == nullptr) return E_POINTER;
        if (clsid != kGrabberFactoryName) return E_CLASS_NOT_REG;
        GstElement* element = gst_element_factory_make(clsid.c_str(), nullptr);
        if (element == nullptr) return E_CLASS_NOT_REG;
        auto filter = std::make_shared<GFilter>(FilterKind::Grabber, "");
        filter->element = GST_ELEMENT(gst_object_ref_sink(element));
        filter->AddPin(kGrabberInputPin, PinDirection::Input);
        filter->AddPin(kGrabberOutputPin, PinDirection::Output);
        *out = filter;
        return S_OK;
    }
    HRESULT CreateAudioDecode(std::shared_ptr<IAudioDecode>* out) override {
        if (out == nullptr) return E_POINTER;
        *out = CreateGstAudioDecode();
        return *out != nullptr ? S_OK : E_FAIL;
    }
};

}  // namespace

std::shared_ptr<IEngine> CreateGstEngine() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        GError* error = nullptr;
        ready = gst_init_check(nullptr, nullptr, &error) != FALSE;
        if (error != nullptr) {
            std::fprintf(stderr, "vurma: GStreamer cannot start: %s\n", error->message);
            g_error_free(error);
        }
        if (ready) ready = RegisterSampleGrabber();
    });
    if (!ready) return nullptr;
    return std::make_shared<GstEngine>();
}

}  // namespace vurma::media
