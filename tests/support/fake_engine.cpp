#include "fake_engine.h"

#include <algorithm>
#include <utility>

namespace vurma::media {

namespace {
constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);

class FakeSample final : public IMediaSample {
  public:
    FakeSample(const std::vector<std::uint8_t>& bytes, bool preroll, bool discontinuity)
        : bytes_(bytes), preroll_(preroll), discontinuity_(discontinuity) {}
    HRESULT GetPointer(std::uint8_t** data) override {
        *data = bytes_.data();
        return S_OK;
    }
    long GetActualDataLength() override { return static_cast<long>(bytes_.size()); }
    HRESULT IsPreroll() override { return preroll_ ? S_OK : S_FALSE; }
    HRESULT IsDiscontinuity() override { return discontinuity_ ? S_OK : S_FALSE; }

  private:
    std::vector<std::uint8_t> bytes_;
    bool preroll_;
    bool discontinuity_;
};

class FakeMediaTypes final : public IEnumMediaTypes {
  public:
    FakeMediaTypes(FakeEngine* engine, std::vector<MediaType> types)
        : engine_(engine), types_(std::move(types)) {}
    HRESULT Next(MediaType* item) override {
        const HRESULT hr = engine_->Hook("MediaTypes.Next");
        if (Failed(hr)) return hr;
        return types_.Next(item);
    }
    HRESULT Skip(unsigned long count) override { return types_.Skip(count); }
    HRESULT Reset() override { return types_.Reset(); }

  private:
    FakeEngine* engine_;
    VectorEnum<MediaType> types_;
};

class FakeBag final : public IPropertyBag {
  public:
    explicit FakeBag(FakeCategoryEntry entry) : entry_(std::move(entry)) {}
    HRESULT Read(const std::string& property, std::string* value) override {
        if (property == "FriendlyName" && entry_.hasFriendlyName) {
            *value = entry_.friendlyName;
            return S_OK;
        }
        if (property == "CLSID" && entry_.hasClsid) {
            *value = entry_.clsid;
            return S_OK;
        }
        return E_FAIL;
    }

  private:
    FakeCategoryEntry entry_;
};

class FakeMoniker final : public IMoniker {
  public:
    explicit FakeMoniker(FakeCategoryEntry entry) : entry_(std::move(entry)) {}
    HRESULT BindToStorage(std::shared_ptr<IPropertyBag>* bag) override {
        if (entry_.bindFails) return E_FAIL;
        *bag = std::make_shared<FakeBag>(entry_);
        return S_OK;
    }

  private:
    FakeCategoryEntry entry_;
};

class FakeDevEnum final : public ICreateDevEnum {
  public:
    explicit FakeDevEnum(FakeEngine* engine) : engine_(engine) {}
    HRESULT CreateClassEnumerator(const CategoryId& category,
                                  std::shared_ptr<IEnumMoniker>* monikers, int) override {
        const HRESULT hr = engine_->Hook("DevEnum.CreateClassEnumerator");
        if (Failed(hr)) return hr;
        std::vector<std::shared_ptr<IMoniker>> items;
        if (category == CLSID_LegacyAmFilterCategory) {
            for (const FakeCategoryEntry& entry : engine_->category()) {
                items.push_back(std::make_shared<FakeMoniker>(entry));
            }
        }
        *monikers = std::make_shared<VectorEnum<std::shared_ptr<IMoniker>>>(std::move(items));
        return S_OK;
    }

  private:
    FakeEngine* engine_;
};

// Graphs are made and destroyed on load and teardown threads at once.
std::mutex g_rotMutex;

class FakeRot final : public IRunningObjectTable {
  public:
    FakeRot(FakeEngine* engine, std::uint32_t* nextCookie)
        : engine_(engine), nextCookie_(nextCookie) {}
    HRESULT Register(const std::string& itemName, const std::shared_ptr<IGraphBuilder>&,
                     std::uint32_t* cookie) override {
        const HRESULT hr = engine_->Hook("Rot.Register");
        if (Failed(hr)) return hr;
        std::lock_guard lock(g_rotMutex);
        engine_->registeredName = itemName;
        *cookie = (*nextCookie_)++;
        engine_->registered.push_back(*cookie);
        return S_OK;
    }
    HRESULT Revoke(std::uint32_t cookie) override {
        const HRESULT hr = engine_->Hook("Rot.Revoke");
        if (Failed(hr)) return hr;
        std::lock_guard lock(g_rotMutex);
        auto& list = engine_->registered;
        const auto it = std::find(list.begin(), list.end(), cookie);
        if (it == list.end()) return E_FAIL;
        list.erase(it);
        return S_OK;
    }

  private:
    FakeEngine* engine_;
    std::uint32_t* nextCookie_;
};

class FakeCaptureBuilder final : public ICaptureGraphBuilder2 {};

void Link(const std::shared_ptr<FakePin>& out, const std::shared_ptr<FakePin>& in) {
    out->peer = in;
    in->peer = out;
}
}  // namespace

// ---- FakePin

FakePin::FakePin(FakeEngine* engine, FakeFilter* ownerFilter, std::string pinName,
                 PinDirection direction, std::vector<MediaType> mediaTypes)
    : name(std::move(pinName)),
      dir(direction),
      types(std::move(mediaTypes)),
      owner(ownerFilter),
      engine_(engine) {}

std::string FakePin::Call(const char* method) const {
    return owner->name + "." + name + "." + method;
}

HRESULT FakePin::QueryDirection(PinDirection* direction) {
    *direction = dir;
    return S_OK;
}

HRESULT FakePin::QueryPinInfo(PinInfo* info) {
    const HRESULT hr = engine_->Hook(Call("QueryPinInfo"));
    if (Failed(hr)) return hr;
    info->name = name;
    info->dir = dir;
    return S_OK;
}

HRESULT FakePin::ConnectedTo(std::shared_ptr<IPin>* peerOut) {
    const HRESULT hr = engine_->Hook(Call("ConnectedTo"));
    if (Failed(hr)) return hr;
    std::shared_ptr<FakePin> p = peer.lock();
    if (p == nullptr) return E_NOT_CONNECTED;
    *peerOut = p;
    return S_OK;
}

HRESULT FakePin::EnumMediaTypes(std::shared_ptr<IEnumMediaTypes>* out) {
    const HRESULT hr = engine_->Hook(Call("EnumMediaTypes"));
    if (Failed(hr)) return hr;
    *out = std::make_shared<FakeMediaTypes>(engine_, types);
    return S_OK;
}

// ---- FakeFilter

FakeFilter::FakeFilter(FakeEngine* engine, std::string filterName, bool isGrabber)
    : name(std::move(filterName)), grabber(isGrabber), engine_(engine) {}

FakeFilter::~FakeFilter() {
    if (callback != nullptr) callback->Release();
}

std::shared_ptr<FakePin> FakeFilter::AddPin(std::string pinName, PinDirection dir,
                                            std::vector<MediaType> types) {
    pins.push_back(
        std::make_shared<FakePin>(engine_, this, std::move(pinName), dir, std::move(types)));
    return pins.back();
}

HRESULT FakeFilter::QueryFilterInfo(FilterInfo* info) {
    const HRESULT hr = engine_->Hook(name + ".QueryFilterInfo");
    if (Failed(hr)) return hr;
    info->name = name;
    return S_OK;
}

HRESULT FakeFilter::EnumPins(std::shared_ptr<IEnumPins>* out) {
    const HRESULT hr = engine_->Hook(name + ".EnumPins");
    if (Failed(hr)) return hr;
    *out = std::make_shared<VectorEnum<std::shared_ptr<IPin>>>(
        std::vector<std::shared_ptr<IPin>>(pins.begin(), pins.end()));
    return S_OK;
}

HRESULT FakeFilter::QuerySampleGrabber(std::shared_ptr<ISampleGrabber>* out) {
    const HRESULT hr = engine_->Hook(name + ".QuerySampleGrabber");
    if (Failed(hr)) return hr;
    if (!grabber) return E_NOINTERFACE;
    *out = std::shared_ptr<ISampleGrabber>(shared_from_this(), static_cast<ISampleGrabber*>(this));
    return S_OK;
}

HRESULT FakeFilter::SetOneShot(bool) { return engine_->Hook(name + ".SetOneShot"); }
HRESULT FakeFilter::SetBufferSamples(bool) { return engine_->Hook(name + ".SetBufferSamples"); }

HRESULT FakeFilter::SetCallback(ISampleGrabberCB* cb, int) {
    const HRESULT hr = engine_->Hook(name + ".SetCallback");
    if (Failed(hr)) return hr;
    if (cb != nullptr) cb->AddRef();
    if (callback != nullptr) callback->Release();
    callback = cb;
    return S_OK;
}

// ---- FakeEngine

FakeEngine::FakeEngine() { category_.push_back({kSampleGrabberName, kSampleGrabberName}); }
FakeEngine::~FakeEngine() = default;

void FakeEngine::HoldRender() {
    std::unique_lock lock(mutex_);
    ++rendersHeld_;
    renderCv_.wait(lock, [this] { return rendersGo_; });
    --rendersHeld_;
}

void FakeEngine::HangCall(const std::string& call) {
    std::lock_guard lock(mutex_);
    hangs_.insert(call);
}

void FakeEngine::ReleaseRenders() {
    {
        std::lock_guard lock(mutex_);
        rendersGo_ = true;
    }
    renderCv_.notify_all();
}

int FakeEngine::rendersHeld() const {
    std::lock_guard lock(mutex_);
    return rendersHeld_;
}

void FakeEngine::AddFile(const std::string& path, FakeFile file) { files_[path] = file; }

void FakeEngine::FailCall(const std::string& call, HRESULT hr, int after, int count) {
    std::lock_guard lock(mutex_);
    failures_.emplace(call, Failure{hr, after, count});
}

void FakeEngine::ClearFailures() {
    std::lock_guard lock(mutex_);
    failures_.clear();
}

std::vector<std::string> FakeEngine::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void FakeEngine::ClearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

int FakeEngine::CallCount(const std::string& call) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(calls_.begin(), calls_.end(), call));
}

int FakeEngine::liveGraphs() const {
    return static_cast<int>(
        std::count_if(graphs_.begin(), graphs_.end(), [](const auto& g) { return !g.expired(); }));
}

HRESULT FakeEngine::Hook(const std::string& call) {
    if (onCall) onCall(call);  // outside the lock: the probe may query the engine
    std::unique_lock lock(mutex_);
    calls_.push_back(call);
    if (hangs_.count(call) != 0) {
        ++rendersHeld_;
        renderCv_.wait(lock, [this] { return rendersGo_; });
        --rendersHeld_;
    }
    auto [first, last] = failures_.equal_range(call);
    for (auto it = first; it != last; ++it) {
        Failure& f = it->second;
        if (f.after > 0) {
            --f.after;
            continue;
        }
        if (f.count == 0) continue;
        if (f.count > 0) --f.count;
        return f.hr;
    }
    return S_OK;
}

const FakeFile* FakeEngine::FindFile(const std::string& path) const {
    const auto it = files_.find(path);
    return it == files_.end() ? nullptr : &it->second;
}

bool FakeEngine::FeedSample(double time, const std::vector<std::uint8_t>& bytes, bool preroll,
                            bool discontinuity) {
    if (const std::shared_ptr<FakeAudioDecode> d = decode()) {
        if (d->Feed(time, bytes, preroll, discontinuity)) return true;
    }
    const std::shared_ptr<FakeGraph> g = graph();
    return g != nullptr && g->FeedSample(time, bytes, preroll, discontinuity);
}

void FakeEngine::PostEvent(long code, std::intptr_t param1, std::intptr_t param2) {
    if (const std::shared_ptr<FakeGraph> g = graph()) g->PostEvent(code, param1, param2);
}

bool FakeEngine::EndCapture(HRESULT hr) {
    const std::shared_ptr<FakeAudioDecode> d = decode();
    return d != nullptr && d->End(hr);
}

std::shared_ptr<FakeAudioDecode> FakeEngine::decode() const {
    std::lock_guard lock(mutex_);
    return decode_.lock();
}

HRESULT FakeEngine::CreateAudioDecode(std::shared_ptr<IAudioDecode>* out) {
    const HRESULT hr = Hook("Engine.CreateAudioDecode");
    if (Failed(hr)) return hr;
    auto d = std::make_shared<FakeAudioDecode>(this);
    {
        std::lock_guard lock(mutex_);
        decode_ = d;
    }
    *out = d;
    return S_OK;
}

// ---- FakeAudioDecode

FakeAudioDecode::~FakeAudioDecode() { Stop(); }

HRESULT FakeAudioDecode::Start(const std::string& utf8Path, const WaveFormat& wave,
                               ISampleGrabberCB* callback, std::function<void(HRESULT)> ended) {
    const HRESULT hr = engine_->Hook("Decode.Start");
    if (Failed(hr)) return hr;
    std::lock_guard lock(mutex_);
    if (callback_ != nullptr || callback == nullptr) return E_FAIL;
    path = utf8Path;
    format = wave;
    callback->AddRef();
    callback_ = callback;
    ended_ = std::move(ended);
    return S_OK;
}

void FakeAudioDecode::Stop() {
    std::lock_guard lock(mutex_);
    if (callback_ == nullptr) return;
    engine_->Hook("Decode.Stop");
    callback_->Release();
    callback_ = nullptr;
    ended_ = nullptr;
}

std::uint64_t FakeAudioDecode::Progress() const {
    std::lock_guard lock(mutex_);
    return fed_;
}

bool FakeAudioDecode::running() const {
    std::lock_guard lock(mutex_);
    return callback_ != nullptr;
}

bool FakeAudioDecode::Feed(double time, const std::vector<std::uint8_t>& bytes, bool preroll,
                           bool discontinuity) {
    std::lock_guard lock(mutex_);
    if (callback_ == nullptr) return false;
    FakeSample sample(bytes, preroll, discontinuity);
    callback_->SampleCB(time, &sample);
    ++fed_;
    return true;
}

bool FakeAudioDecode::End(HRESULT hr) {
    // Delivered under the lock, as a real decode does, so that Stop cannot
    // return while the end is on its way.
    std::lock_guard lock(mutex_);
    if (callback_ == nullptr || !ended_) return false;
    const auto ended = std::move(ended_);
    ended_ = nullptr;
    ended(hr);
    return true;
}

HRESULT FakeEngine::CreateGraphBuilder(std::shared_ptr<IGraphBuilder>* out) {
    const HRESULT hr = Hook("Engine.CreateGraphBuilder");
    if (Failed(hr)) return hr;
    auto g = std::make_shared<FakeGraph>(this);
    current_ = g;
    graphs_.push_back(g);
    *out = g;
    return S_OK;
}

HRESULT FakeEngine::CreateCaptureGraphBuilder(std::shared_ptr<ICaptureGraphBuilder2>* out) {
    const HRESULT hr = Hook("Engine.CreateCaptureGraphBuilder");
    if (Failed(hr)) return hr;
    *out = std::make_shared<FakeCaptureBuilder>();
    return S_OK;
}

HRESULT FakeEngine::CreateDevEnum(std::shared_ptr<ICreateDevEnum>* out) {
    const HRESULT hr = Hook("Engine.CreateDevEnum");
    if (Failed(hr)) return hr;
    *out = std::make_shared<FakeDevEnum>(this);
    return S_OK;
}

HRESULT FakeEngine::GetRunningObjectTable(std::shared_ptr<IRunningObjectTable>* out) {
    const HRESULT hr = Hook("Engine.GetRunningObjectTable");
    if (Failed(hr)) return hr;
    *out = std::make_shared<FakeRot>(this, &nextCookie_);
    return S_OK;
}

HRESULT FakeEngine::ClsidFromString(const std::string& text, Clsid* clsid) {
    const HRESULT hr = Hook("Engine.ClsidFromString");
    if (Failed(hr)) return hr;
    if (text.empty()) return E_CLASS_STRING;
    *clsid = text;
    return S_OK;
}

HRESULT FakeEngine::CreateFilter(const Clsid& clsid, std::shared_ptr<IBaseFilter>* out) {
    const HRESULT hr = Hook("Engine.CreateFilter");
    if (Failed(hr)) return hr;
    if (clsid != kSampleGrabberName) return E_CLASS_NOT_REG;
    auto filter = std::make_shared<FakeFilter>(this, "", true);
    filter->AddPin(kGrabberInputPin, PinDirection::Input);
    filter->AddPin(kGrabberOutputPin, PinDirection::Output);
    *out = filter;
    return S_OK;
}

// ---- FakeGraph

namespace {
template <class Face>
HRESULT Face_(FakeEngine* engine, const char* call, const std::shared_ptr<FakeGraph>& self,
              std::shared_ptr<Face>* out) {
    const HRESULT hr = engine->Hook(call);
    if (Failed(hr)) return hr;
    *out = std::shared_ptr<Face>(self, static_cast<Face*>(self.get()));
    return S_OK;
}
}  // namespace

HRESULT FakeGraph::QueryMediaControl(std::shared_ptr<IMediaControl>* out) {
    return Face_(engine_, "Graph.QueryMediaControl", shared_from_this(), out);
}
HRESULT FakeGraph::QueryMediaSeeking(std::shared_ptr<IMediaSeeking>* out) {
    return Face_(engine_, "Graph.QueryMediaSeeking", shared_from_this(), out);
}
HRESULT FakeGraph::QueryBasicVideo(std::shared_ptr<IBasicVideo>* out) {
    return Face_(engine_, "Graph.QueryBasicVideo", shared_from_this(), out);
}
HRESULT FakeGraph::QueryVideoWindow(std::shared_ptr<IVideoWindow>* out) {
    return Face_(engine_, "Graph.QueryVideoWindow", shared_from_this(), out);
}
HRESULT FakeGraph::QueryMediaEvent(std::shared_ptr<IMediaEventEx>* out) {
    return Face_(engine_, "Graph.QueryMediaEvent", shared_from_this(), out);
}
HRESULT FakeGraph::QueryBasicAudio(std::shared_ptr<IBasicAudio>* out) {
    return Face_(engine_, "Graph.QueryBasicAudio", shared_from_this(), out);
}
HRESULT FakeGraph::QueryVideoOutput(std::shared_ptr<IVideoOutput>* out) {
    const HRESULT hr = Face_(engine_, "Graph.QueryVideoOutput", shared_from_this(), out);
    if (Succeeded(hr) && !hasVideo) {
        out->reset();
        return E_NOINTERFACE;
    }
    return hr;
}

PinFacts FakeGraph::Facts(const FakePin& pin) const {
    const FakeFilter* f = pin.owner;
    const bool inGraph =
        std::any_of(filters.begin(), filters.end(), [f](const auto& g) { return g.get() == f; });
    const FilterRole role = f->grabber                      ? FilterRole::Grabber
                            : f->name == kAudioRendererName ? FilterRole::AudioRenderer
                                                            : FilterRole::Other;
    return {pin.dir, !pin.peer.expired(), inGraph, OffersAudio(pin.types), role};
}

std::shared_ptr<FakeFilter> FakeGraph::NewFilter(const std::string& name) {
    filters.push_back(std::make_shared<FakeFilter>(engine_, name));
    return filters.back();
}

HRESULT FakeGraph::RenderFile(const std::string& utf8Path) {
    HRESULT hr = engine_->Hook("Graph.RenderFile");
    if (Failed(hr)) return hr;
    const FakeFile* file = engine_->FindFile(utf8Path);
    if (file == nullptr) return E_NOT_FOUND;
    if (file->renderHangs) engine_->HoldRender();
    if (Failed(file->renderResult)) {
        renderReason_ = file->renderReason;
        return file->renderResult;
    }
    if (!file->hasAudio && !file->hasVideo) return E_CANNOT_RENDER;
    renderedPath = utf8Path;
    duration_ = file->duration;
    durationResult_ = file->durationResult;
    hasVideo = file->hasVideo;
    auto source = NewFilter("Source");
    auto sourceOut = source->AddPin("Output", PinDirection::Output);
    auto decoder = NewFilter("Decoder");
    auto decoderIn = decoder->AddPin("In", PinDirection::Input);
    Link(sourceOut, decoderIn);
    if (file->hasAudio) {
        // A non-audio type first, so the search has to pass over it.
        MediaType other;
        MediaType wave;
        wave.formatType = FormatType::WaveFormatEx;
        wave.wave = file->format;
        auto decoderOut = decoder->AddPin("Out", PinDirection::Output, {other, wave});
        auto renderer = NewFilter(kAudioRendererName);
        Link(decoderOut, renderer->AddPin("In", PinDirection::Input, {wave}));
    }
    if (file->hasVideo) {
        MediaType video;
        video.formatType = FormatType::VideoInfo;
        auto decoderVideo = decoder->AddPin("Video", PinDirection::Output, {video});
        auto renderer = NewFilter("VideoRenderer");
        Link(decoderVideo, renderer->AddPin("In", PinDirection::Input, {video}));
    }
    return S_OK;
}

HRESULT FakeGraph::EnumFilters(std::shared_ptr<IEnumFilters>* out) {
    const HRESULT hr = engine_->Hook("Graph.EnumFilters");
    if (Failed(hr)) return hr;
    *out = std::make_shared<VectorEnum<std::shared_ptr<IBaseFilter>>>(
        std::vector<std::shared_ptr<IBaseFilter>>(filters.begin(), filters.end()));
    return S_OK;
}

HRESULT FakeGraph::AddFilter(const std::shared_ptr<IBaseFilter>& filter, const std::string& name) {
    const HRESULT hr = engine_->Hook("Graph.AddFilter");
    if (Failed(hr)) return hr;
    auto fake = std::dynamic_pointer_cast<FakeFilter>(filter);
    if (fake == nullptr) return E_POINTER;
    fake->name = name;
    filters.push_back(fake);
    return S_OK;
}

HRESULT FakeGraph::RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) {
    const HRESULT hr = engine_->Hook("Graph.RemoveFilter");
    if (Failed(hr)) return hr;
    const auto it = std::find(filters.begin(), filters.end(), filter);
    if (it == filters.end()) return E_NOT_FOUND;
    for (const auto& pin : (*it)->pins) {
        if (auto peer = pin->peer.lock()) peer->peer.reset();
        pin->peer.reset();
    }
    filters.erase(it);
    return S_OK;
}

HRESULT FakeGraph::Disconnect(const std::shared_ptr<IPin>& pin) {
    const HRESULT hr = engine_->Hook("Graph.Disconnect");
    if (Failed(hr)) return hr;
    auto fake = std::dynamic_pointer_cast<FakePin>(pin);
    if (fake == nullptr) return E_POINTER;
    if (fake->peer.expired()) return S_FALSE;
    fake->peer.reset();
    return S_OK;
}

HRESULT FakeGraph::Connect(const std::shared_ptr<IPin>& out, const std::shared_ptr<IPin>& in) {
    const HRESULT hr = engine_->Hook("Graph.Connect");
    if (Failed(hr)) return hr;
    auto o = std::dynamic_pointer_cast<FakePin>(out);
    auto i = std::dynamic_pointer_cast<FakePin>(in);
    if (o == nullptr || i == nullptr) return E_POINTER;
    const HRESULT rule = CheckConnect(Facts(*o), Facts(*i));
    if (Failed(rule)) return rule;
    const ConnectedTypes types = TypesAfterConnect(o->types, Facts(*i).role);
    i->types = types.input;
    if (types.grabberOutput) {
        for (const auto& pin : i->owner->pins) {
            if (pin->name == kGrabberOutputPin) pin->types = types.input;
        }
    }
    Link(o, i);
    return S_OK;
}

HRESULT FakeGraph::Render(const std::shared_ptr<IPin>& out) {
    const HRESULT hr = engine_->Hook("Graph.Render");
    if (Failed(hr)) return hr;
    auto o = std::dynamic_pointer_cast<FakePin>(out);
    if (o == nullptr) return E_POINTER;
    const HRESULT rule = CheckRender(Facts(*o));
    if (Failed(rule)) return rule;
    auto renderer = NewFilter(kAudioRendererName);
    Link(o, renderer->AddPin("In", PinDirection::Input, o->types));
    return S_OK;
}

HRESULT FakeGraph::Run() {
    const HRESULT hr = engine_->Hook("Graph.Run");
    if (Succeeded(hr)) state = FilterState::Running;
    return hr;
}
HRESULT FakeGraph::Pause() {
    const HRESULT hr = engine_->Hook("Graph.Pause");
    if (Succeeded(hr)) state = FilterState::Paused;
    return hr;
}
HRESULT FakeGraph::Stop() {
    const HRESULT hr = engine_->Hook("Graph.Stop");
    if (Succeeded(hr)) state = FilterState::Stopped;
    return hr;
}
HRESULT FakeGraph::GetState(long, FilterState* out) {
    const HRESULT hr = engine_->Hook("Graph.GetState");
    if (Succeeded(hr)) *out = state;
    return hr;
}
HRESULT FakeGraph::StopWhenReady() {
    const HRESULT hr = engine_->Hook("Graph.StopWhenReady");
    if (Succeeded(hr)) state = FilterState::Stopped;
    return hr;
}

HRESULT FakeGraph::GetTimeFormat(TimeFormat* format) {
    const HRESULT hr = engine_->Hook("Graph.GetTimeFormat");
    if (Succeeded(hr)) *format = TimeFormat::MediaTime;
    return hr;
}
HRESULT FakeGraph::SetTimeFormat(TimeFormat) { return engine_->Hook("Graph.SetTimeFormat"); }
HRESULT FakeGraph::GetDuration(std::int64_t* duration) {
    const HRESULT hr = engine_->Hook("Graph.GetDuration");
    if (Failed(hr)) return hr;
    if (Failed(durationResult_)) return durationResult_;
    *duration = duration_;
    return S_OK;
}
HRESULT FakeGraph::GetAvailable(std::int64_t* earliest, std::int64_t* latest) {
    const HRESULT hr = engine_->Hook("Graph.GetAvailable");
    if (Failed(hr)) return hr;
    *earliest = 0;
    *latest = duration_;
    return S_OK;
}
HRESULT FakeGraph::GetPositions(std::int64_t* current, std::int64_t* stop) {
    const HRESULT hr = engine_->Hook("Graph.GetPositions");
    if (Failed(hr)) return hr;
    *current = position;
    *stop = stopPosition;
    return S_OK;
}
HRESULT FakeGraph::SetPositions(std::int64_t* current, int currentFlags, std::int64_t* stop,
                                int stopFlags) {
    const HRESULT hr = engine_->Hook("Graph.SetPositions");
    if (Failed(hr)) return hr;
    if (current != nullptr && currentFlags == AM_SEEKING_AbsolutePositioning) position = *current;
    if (stop != nullptr && stopFlags == AM_SEEKING_AbsolutePositioning) stopPosition = *stop;
    return S_OK;
}

#define VURMA_FAKE_VIDEO_CALL(call)         \
    const HRESULT hr = engine_->Hook(call); \
    if (Failed(hr)) return hr;              \
    if (!hasVideo) return E_NOINTERFACE;

HRESULT FakeGraph::put_AutoShow(bool) {
    VURMA_FAKE_VIDEO_CALL("Graph.put_AutoShow");
    return S_OK;
}
HRESULT FakeGraph::put_MessageDrain(WindowHandle) {
    VURMA_FAKE_VIDEO_CALL("Graph.put_MessageDrain");
    return S_OK;
}
HRESULT FakeGraph::put_Owner(WindowHandle window) {
    VURMA_FAKE_VIDEO_CALL("Graph.put_Owner");
    owner = window;
    return S_OK;
}
HRESULT FakeGraph::put_WindowStyle(long style) {
    VURMA_FAKE_VIDEO_CALL("Graph.put_WindowStyle");
    windowStyle = style;
    return S_OK;
}
HRESULT FakeGraph::SetWindowPosition(long left, long top, long width, long height) {
    VURMA_FAKE_VIDEO_CALL("Graph.SetWindowPosition");
    windowRect[0] = left;
    windowRect[1] = top;
    windowRect[2] = width;
    windowRect[3] = height;
    return S_OK;
}
HRESULT FakeGraph::put_Visible(bool on) {
    VURMA_FAKE_VIDEO_CALL("Graph.put_Visible");
    visible = on;
    return S_OK;
}
HRESULT FakeGraph::SetWindowForeground(bool) {
    VURMA_FAKE_VIDEO_CALL("Graph.SetWindowForeground");
    return S_OK;
}
#undef VURMA_FAKE_VIDEO_CALL

HRESULT FakeGraph::SetNotifyCallback(std::function<void()> fn) {
    const HRESULT hr = engine_->Hook("Graph.SetNotifyCallback");
    if (Failed(hr)) return hr;
    std::lock_guard lock(eventMutex_);
    notify = std::move(fn);
    return S_OK;
}

HRESULT FakeGraph::GetEvent(long* code, std::intptr_t* param1, std::intptr_t* param2, long) {
    std::lock_guard lock(eventMutex_);
    if (events_.empty()) return E_ABORT;
    *code = events_.front();
    *param1 = 0;
    *param2 = 0;
    events_.erase(events_.begin());
    return S_OK;
}

HRESULT FakeGraph::FreeEventParams(long, std::intptr_t, std::intptr_t) {
    return engine_->Hook("Graph.FreeEventParams");
}

HRESULT FakeGraph::get_Volume(long* out) {
    const HRESULT hr = engine_->Hook("Graph.get_Volume");
    if (Failed(hr)) return hr;
    if (Filter(kAudioRendererName) == nullptr) return E_NOTIMPL;
    *out = volume;
    return S_OK;
}

HRESULT FakeGraph::put_Volume(long v) {
    const HRESULT hr = engine_->Hook("Graph.put_Volume");
    if (Failed(hr)) return hr;
    if (Filter(kAudioRendererName) == nullptr) return E_NOTIMPL;
    volume = v;
    return S_OK;
}

void FakeGraph::SetFrameNotify(std::function<void()> fn) {
    std::lock_guard lock(eventMutex_);
    frameNotify_ = std::move(fn);
}

bool FakeGraph::TakeFrame(VideoFrame* frame) {
    std::lock_guard lock(eventMutex_);
    if (frames_.empty()) return false;
    *frame = std::move(frames_.back());
    frames_.clear();
    return true;
}

void FakeGraph::PostFrame(VideoFrame frame) {
    std::function<void()> fn;
    {
        std::lock_guard lock(eventMutex_);
        frames_.push_back(std::move(frame));
        fn = frameNotify_;
    }
    if (fn) fn();
}

std::shared_ptr<FakeFilter> FakeGraph::Filter(const std::string& name) const {
    for (const auto& f : filters) {
        if (f->name == name) return f;
    }
    return nullptr;
}

bool FakeGraph::FeedSample(double time, const std::vector<std::uint8_t>& bytes, bool preroll,
                           bool discontinuity) {
    for (const auto& f : filters) {
        if (!f->grabber || f->callback == nullptr) continue;
        for (const auto& pin : f->pins) {
            if (pin->dir != PinDirection::Input || pin->peer.expired()) continue;
            FakeSample sample(bytes, preroll, discontinuity);
            f->callback->SampleCB(time, &sample);
            return true;
        }
    }
    return false;
}

void FakeGraph::PostEvent(long code, std::intptr_t, std::intptr_t) {
    std::function<void()> fn;
    {
        std::lock_guard lock(eventMutex_);
        events_.push_back(code);
        fn = notify;
    }
    if (fn) fn();
}

}  // namespace vurma::media
