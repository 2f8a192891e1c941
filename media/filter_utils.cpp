#include "filter_utils.h"

#include "analysis/report_error.h"

namespace vurma::media {

HRESULT LoadFilter(IEngine& engine, ICreateDevEnum* devEnum, const CategoryId& category,
                   const std::string& name, std::shared_ptr<IBaseFilter>* out) {
    std::shared_ptr<IEnumMoniker> monikers;
    HRESULT hr =
        devEnum != nullptr ? devEnum->CreateClassEnumerator(category, &monikers, 0) : E_POINTER;
    if (Failed(hr) || monikers == nullptr) {
        if (Failed(hr)) {
            ReportError("FAILED(hr=0x%x) in devEnum->CreateClassEnumerator(clsid, &pEnumCat, 0)\n",
                        static_cast<unsigned>(hr));
        }
        return S_FALSE;
    }
    std::shared_ptr<IMoniker> moniker;
    while (monikers->Next(&moniker) == S_OK) {
        std::shared_ptr<IPropertyBag> bag;
        if (moniker == nullptr || Failed(moniker->BindToStorage(&bag)) || bag == nullptr) continue;
        std::string friendly;
        if (Failed(bag->Read("FriendlyName", &friendly))) continue;
        std::string clsidText;
        if (Failed(bag->Read("CLSID", &clsidText))) continue;
        Clsid clsid;
        if (Failed(engine.ClsidFromString(clsidText, &clsid))) continue;
        if (friendly != name && (name.empty() || name[0] != '*')) continue;
        hr = engine.CreateFilter(clsid, out);
        if (Failed(hr)) {
            ReportError(
                "FAILED(hr=0x%x) in CoCreateInstance(clsidFilter,NULL,CLSCTX_INPROC, "
                "IID_IBaseFilter,(LPVOID *)ppFlt)\n",
                static_cast<unsigned>(hr));
        }
        return S_OK;
    }
    return S_FALSE;
}

HRESULT AddFilter(IEngine& engine, IGraphBuilder* graph, ICreateDevEnum* devEnum,
                  const CategoryId& category, const std::string& name,
                  std::shared_ptr<IBaseFilter>* out) {
    HRESULT hr = LoadFilter(engine, devEnum, category, name, out);
    if (Failed(hr)) {
        ReportError("FAILED(hr=0x%x) in LoadFilter(pDE,clsid,strName,ppFlt)\n",
                    static_cast<unsigned>(hr));
    }
    hr = graph != nullptr ? graph->AddFilter(*out, name) : E_POINTER;
    if (Failed(hr)) {
        ReportError("FAILED(hr=0x%x) in pGB->AddFilter(*ppFlt,x)\n", static_cast<unsigned>(hr));
    }
    return hr;
}

std::shared_ptr<IBaseFilter> FindFilter(IGraphBuilder* graph, const std::string& name) {
    if (graph == nullptr) return nullptr;
    std::shared_ptr<IEnumFilters> filters;
    if (Failed(graph->EnumFilters(&filters)) || filters == nullptr) return nullptr;
    std::shared_ptr<IBaseFilter> filter;
    while (filters->Next(&filter) == S_OK) {
        FilterInfo info;
        if (filter == nullptr || Failed(filter->QueryFilterInfo(&info))) return nullptr;
        if (info.name == name) return filter;
    }
    return nullptr;
}

namespace {
std::shared_ptr<IEnumPins> EnumPinsReported(IBaseFilter* filter) {
    std::shared_ptr<IEnumPins> pins;
    const HRESULT hr = filter != nullptr ? filter->EnumPins(&pins) : E_POINTER;
    if (Failed(hr)) {
        ReportError("FAILED(hr=0x%x) in pFlt->EnumPins(&pEnumPins)\n", static_cast<unsigned>(hr));
        return nullptr;
    }
    return pins;
}
}  // namespace

HRESULT FindPin(IBaseFilter* filter, const std::string& name, std::shared_ptr<IPin>* out) {
    const std::shared_ptr<IEnumPins> pins = EnumPinsReported(filter);
    if (pins == nullptr) return -1;
    std::shared_ptr<IPin> pin;
    while (pins->Next(&pin) == S_OK) {
        PinInfo info;
        if (pin != nullptr && Succeeded(pin->QueryPinInfo(&info)) && info.name == name) {
            *out = pin;
            return S_OK;
        }
    }
    return -1;
}

HRESULT FindPin(IBaseFilter* filter, PinDirection dir, int index, std::shared_ptr<IPin>* out) {
    const std::shared_ptr<IEnumPins> pins = EnumPinsReported(filter);
    if (pins == nullptr) return -1;
    int count = 0;
    std::shared_ptr<IPin> pin;
    while (pins->Next(&pin) == S_OK) {
        PinDirection pinDir;
        if (pin == nullptr || Failed(pin->QueryDirection(&pinDir)) || pinDir != dir) continue;
        if (++count == index) {
            *out = pin;
            return S_OK;
        }
    }
    return -1;
}

HRESULT GetMediaType(IPin* pin, FormatType formatType, MediaType* out) {
    std::shared_ptr<IEnumMediaTypes> types;
    HRESULT hr = pin != nullptr ? pin->EnumMediaTypes(&types) : E_POINTER;
    if (Failed(hr) || types == nullptr) {
        if (Failed(hr)) {
            ReportError("FAILED(hr=0x%x) in pPin->EnumMediaTypes(&pEnumMts)\n",
                        static_cast<unsigned>(hr));
        }
        return -1;
    }
    int count = 0;
    while (types->Skip(1) == S_OK) ++count;
    types->Reset();
    for (int i = 0; i < count; ++i) {
        MediaType type;
        hr = types->Next(&type);
        if (Failed(hr)) {
            ReportError("FAILED(hr=0x%x) in pEnumMts->Next(1,&pmt,NULL)\n",
                        static_cast<unsigned>(hr));
            return -1;
        }
        if (hr == S_OK && type.formatType == formatType) {
            *out = type;
            return S_OK;
        }
    }
    return -1;
}

}  // namespace vurma::media
