#include "media_session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <utility>

#include "analysis/report_error.h"
#include "analysis/ui_text.h"
#include "async_load.h"
#include "background.h"
#include "filter_utils.h"
#include "grabber_callback.h"

namespace vurma::media {

namespace {
constexpr char kMsgCannotProcess[] = UI_TEXT("このﾌｧｲﾙは処理できません。  ");
constexpr char kMsgNoSound[] = UI_TEXT("このﾌｧｲﾙには音声が含まれていません。  ");
constexpr char kMsgBadBits[] = UI_TEXT("%dﾋﾞｯﾄのｻﾝﾌﾟﾙは処理できません。  ");
constexpr char kMsgNoMemory[] = UI_TEXT("ﾒﾓﾘｰが不足しています。  ");

constexpr HRESULT kLoadTimedOut = static_cast<HRESULT>(0x80004004u);  // E_ABORT

unsigned Hex(HRESULT hr) { return static_cast<std::uint32_t>(hr); }
unsigned long LongHex(HRESULT hr) { return static_cast<std::uint32_t>(hr); }

std::string ChannelText(int channels, TextMap text) {
    if (channels == 1) return text(UI_TEXT("ﾓﾉﾗﾙ"));
    if (channels == 2) return text(UI_TEXT("ｽﾃﾚｵ"));
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, text(UI_TEXT("%d ﾁｬﾈﾙ")).c_str(), channels);
    return buffer;
}

// Local modification time of the file; empty when its status cannot be read.
std::string DateText(const std::string& path, TextMap text) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    std::tm local{};
    if (::localtime_r(&st.st_mtime, &local) == nullptr) return {};
    char buffer[64];
    const std::string format = text(UI_TEXT("%Y年%m月%d日 %H時%M分"));
    if (std::strftime(buffer, sizeof buffer, format.c_str(), &local) == 0) return {};
    return buffer;
}
}  // namespace

std::string RotItemName(const void* graph, unsigned processId) {
    char name[96];
    std::snprintf(name, sizeof name, "FilterGraph %08" PRIxPTR " pid %08x",
                  reinterpret_cast<std::uintptr_t>(graph), processId);
    return name;
}

std::string FormatInfoText(const std::string& dateText, int channels, int bitsPerSample,
                           int sampleRate, std::int64_t totalMs, TextMap text) {
    const std::int64_t ms = totalMs % 1000;
    const std::int64_t seconds = (totalMs / 1000) % 60;
    const std::int64_t minutes = (totalMs / 1000) / 60;
    const std::string format = text(UI_TEXT("%s\n%s %dﾋﾞｯﾄ %6.3fKHz\n%02lld分%02lld秒%03lld"));
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, format.c_str(), dateText.c_str(),
                  ChannelText(channels, text).c_str(), bitsPerSample, sampleRate * 0.001,
                  static_cast<long long>(minutes), static_cast<long long>(seconds),
                  static_cast<long long>(ms));
    return buffer;
}

struct MediaSession::Impl {
    std::shared_ptr<IEngine> engine;

    // The graph: all null or all set.
    std::shared_ptr<IGraphBuilder> pGB;
    std::shared_ptr<ICaptureGraphBuilder2> pCG;
    std::shared_ptr<IMediaControl> pMC;
    std::shared_ptr<IMediaSeeking> pMS;
    std::shared_ptr<IBasicVideo> pBV;
    std::shared_ptr<IVideoWindow> pVW;
    std::shared_ptr<IMediaEventEx> pME;
    std::shared_ptr<ICreateDevEnum> pDE;
    std::uint32_t g_dwRegister = 0;
    int g_bNoVideo = 0;
    std::atomic<int> g_nGraphState{0};
    HRESULT lastCreate = S_OK;

    // The callback of the current load; the session holds one reference so
    // that the object lives exactly as long as the graph it was made for.
    CGrabberCallback* m_pCallBack = nullptr;
    bool captureInGraph = true;
    std::shared_ptr<IVideoOutput> videoOut;

    std::function<void()> notify;
    CommandQueue commands;
    std::mutex reportMutex;
    std::vector<Report> commandReports;     // guarded by reportMutex
    std::function<void()> commandReported;  // set before the first command
    bool unsynchronised = false;
    std::chrono::milliseconds loadTimeout = LoadTimeout();
    WindowHandle mainWindow = 0;
    WindowHandle videoHost = 0;
    long hostLeft = 0, hostTop = 0, hostWidth = 0, hostHeight = 0;

    HRESULT AddToRot(const std::shared_ptr<IGraphBuilder>& graph, std::uint32_t* cookie) {
        std::shared_ptr<IRunningObjectTable> rot;
        if (Failed(engine->GetRunningObjectTable(&rot)) || rot == nullptr) return E_FAIL;
        const std::string name = RotItemName(graph.get(), static_cast<unsigned>(::getpid()));
        return rot->Register(name, graph, cookie);
    }

    void RemoveFromRot(std::uint32_t cookie) {
        std::shared_ptr<IRunningObjectTable> rot;
        if (engine != nullptr && Succeeded(engine->GetRunningObjectTable(&rot)) && rot != nullptr)
            rot->Revoke(cookie);
    }

    void DropCallback() {
        if (m_pCallBack != nullptr) m_pCallBack->Release();
        m_pCallBack = nullptr;
    }

    HRESULT StopGraph() {
        if (pMC == nullptr) return S_FALSE;
        if (g_nGraphState == 0) return S_OK;
        const HRESULT hr = pMC->Stop();
        if (Failed(hr)) {
            ReportError("\r\n*** Failed(%08lx) in Stop()!\r\n", LongHex(hr));
            return hr;
        }
        g_nGraphState = 0;
        return hr;
    }

    HRESULT DestroyGraph() {
        StopGraph();
        HRESULT hr = S_OK;
        if (pVW != nullptr) {
            pVW->put_Visible(false);
            hr = pVW->put_Owner(0);
        }
        RemoveFromRot(g_dwRegister);
        if (pME != nullptr) pME->SetNotifyCallback(nullptr);
        videoOut.reset();
        pDE.reset();
        pMC.reset();
        pMS.reset();
        pVW.reset();
        pBV.reset();
        pME.reset();
        pCG.reset();
        pGB.reset();
        // A fresh graph is stopped, whatever the last one was left in.
        g_nGraphState = 0;
        DropCallback();
        return hr;
    }

    HRESULT CreateGraph() {
        g_bNoVideo = 0;
        pVW.reset();
        pBV.reset();
        const auto fail = [this](HRESULT hr, const char* format) {
            ReportError(format, Hex(hr));
            DestroyGraph();
            return hr;
        };
        HRESULT hr = engine != nullptr ? engine->CreateGraphBuilder(&pGB) : E_POINTER;
        if (Failed(hr) || pGB == nullptr) {
            return fail(Failed(hr) ? hr : E_POINTER,
                        "FAILED(0x%x) CoCreateInstance(CLSID_FilterGraph, NULL,CLSCTX_INPROC, "
                        "IID_IGraphBuilder,(void **)&pGB)\n");
        }
        hr = engine->CreateCaptureGraphBuilder(&pCG);
        if (Failed(hr) || pCG == nullptr) {
            return fail(Failed(hr) ? hr : E_POINTER,
                        "FAILED(0x%x) CoCreateInstance(CLSID_CaptureGraphBuilder2,NULL,"
                        "CLSCTX_INPROC, IID_ICaptureGraphBuilder2,(void **)&pCG)\n");
        }
        hr = pGB->QueryMediaControl(&pMC);
        if (Failed(hr) || pMC == nullptr) {
            return fail(Failed(hr) ? hr : E_NOINTERFACE,
                        "FAILED(0x%x) pGB->QueryInterface(IID_IMediaControl, (void **)&pMC)\n");
        }
        hr = pGB->QueryMediaSeeking(&pMS);
        if (Failed(hr) || pMS == nullptr) {
            return fail(Failed(hr) ? hr : E_NOINTERFACE,
                        "FAILED(0x%x) pGB->QueryInterface(IID_IMediaSeeking, (void **)&pMS)\n");
        }
        hr = pGB->QueryBasicVideo(&pBV);
        if (Failed(hr) || pBV == nullptr) {
            return fail(Failed(hr) ? hr : E_NOINTERFACE,
                        "FAILED(0x%x) pGB->QueryInterface(IID_IBasicVideo, (void **)&pBV)\n");
        }
        hr = pGB->QueryVideoWindow(&pVW);
        if (Failed(hr) || pVW == nullptr) {
            return fail(Failed(hr) ? hr : E_NOINTERFACE,
                        "FAILED(0x%x) pGB->QueryInterface(IID_IVideoWindow, (void **)&pVW)\n");
        }
        hr = pGB->QueryMediaEvent(&pME);
        if (Failed(hr) || pME == nullptr) {
            return fail(Failed(hr) ? hr : E_NOINTERFACE,
                        "FAILED(0x%x) pGB->QueryInterface(IID_IMediaEventEx, (void **)&pME)\n");
        }
        hr = engine->CreateDevEnum(&pDE);
        if (Failed(hr) || pDE == nullptr) {
            return fail(Failed(hr) ? hr : E_POINTER,
                        "FAILED(0x%x) CoCreateInstance(CLSID_SystemDeviceEnum,NULL,CLSCTX_INPROC, "
                        "IID_ICreateDevEnum,(void **)&pDE)\n");
        }
        hr = AddToRot(pGB, &g_dwRegister);
        if (Failed(hr)) return fail(hr, "FAILED(0x%x) AddToRot(pGB,&g_dwRegister)\n");
        pGB->SetUnsynchronised(unsynchronised);
        return S_OK;
    }

    void RebuildGraph() {
        DestroyGraph();
        lastCreate = CreateGraph();
    }

    // Ends a load whose diagnostic left out something the next step needs.
    HRESULT Abandon() {
        RebuildGraph();
        return -1;
    }

    HRESULT PositionVideoWindow() {
        if (g_bNoVideo != 0 || pVW == nullptr) return S_FALSE;
        const HRESULT hr = pVW->SetWindowPosition(hostLeft, hostTop, hostWidth, hostHeight);
        if (Failed(hr)) ReportError("Failed to set window position!  hr=0x%x\r\n", Hex(hr));
        return hr;
    }

    HRESULT LoadMediaFile(const std::string& path, LoadedMedia* out);

    HRESULT Volume(long volume) {
        if (pGB == nullptr) return S_FALSE;
        std::shared_ptr<IBasicAudio> pBA;
        if (Failed(pGB->QueryBasicAudio(&pBA)) || pBA == nullptr) return S_FALSE;
        long current = 0;
        HRESULT hr = pBA->get_Volume(&current);
        if (hr == E_NOTIMPL) return hr;
        if (Failed(hr)) {
            ReportError("Failed in pBA->get_Volume!  hr=0x%x\r\n", Hex(hr));
            return hr;
        }
        hr = pBA->put_Volume(volume);
        if (Failed(hr)) ReportError("Failed in pBA->put_Volume!  hr=0x%x\r\n", Hex(hr));
        return hr;
    }
};

HRESULT MediaSession::Impl::LoadMediaFile(const std::string& path, LoadedMedia* out) {
    LoadedMedia scratch;
    LoadedMedia& media = out != nullptr ? *out : scratch;
    media = LoadedMedia{};

    // Fresh graph and rendering.
    RebuildGraph();
    if (pGB == nullptr) return Failed(lastCreate) ? lastCreate : E_FAIL;
    // The file's name, and the decoder's own reason where it gave one, go
    // with every refusal.
    const ReportDetails named{path};
    HRESULT hr = pGB->RenderFile(path);
    if (Failed(hr)) {
        const std::string reason = pGB->RenderFailureReason();
        ReportError(ReportDetails{reason.empty() ? path : path + "\n" + reason}, kMsgCannotProcess);
        return hr;
    }
    pVW->put_AutoShow(false);
    if (Failed(pVW->put_MessageDrain(mainWindow))) g_bNoVideo = 1;
    media.noVideo = g_bNoVideo != 0;

    // Locating the audio path.
    const std::shared_ptr<IBaseFilter> pSoundDev = FindFilter(pGB.get(), kAudioRendererName);
    if (pSoundDev == nullptr) {
        RebuildGraph();
        ReportError(named, kMsgNoSound);
        return -1;
    }
    std::shared_ptr<IPin> pPinDevIn;
    hr = FindPin(pSoundDev.get(), PinDirection::Input, 1, &pPinDevIn);
    if (Failed(hr)) {
        ReportError("FAILED(hr=0x%x) in FindPin(pSoundDev,PINDIR_INPUT,1,&pPinDevIn)\n", Hex(hr));
    }
    if (pPinDevIn == nullptr) return Abandon();
    std::shared_ptr<IPin> pPinDecdOut;
    hr = pPinDevIn->ConnectedTo(&pPinDecdOut);
    if (Failed(hr)) {
        ReportError("FAILED(hr=0x%x) in pPinDevIn->ConnectedTo(&pPinDecdOut)\n", Hex(hr));
    }
    if (pPinDecdOut == nullptr) return Abandon();
    MediaType mt;
    hr = GetMediaType(pPinDecdOut.get(), FormatType::WaveFormatEx, &mt);
    if (Failed(hr)) {
        ReportError("FAILED(hr=0x%x) in GetMediaType(pPinDecdOut,FORMAT_WaveFormatEx,&pmt)\n",
                    Hex(hr));
        return Abandon();
    }

    // Format check.
    media.channels = mt.wave.channels;
    media.bitsPerSample = mt.wave.bitsPerSample;
    media.sampleRate = mt.wave.samplesPerSec;
    if (media.bitsPerSample != 8 && media.bitsPerSample != 16 && media.bitsPerSample != 24 &&
        media.bitsPerSample != 32) {
        RebuildGraph();
        ReportError(named, kMsgBadBits, media.bitsPerSample);
        return -1;
    }
    // A format with no channel or no rate would size nothing and divide by zero later.
    if (media.channels < 1 || media.sampleRate < 1) {
        RebuildGraph();
        ReportError(named, kMsgCannotProcess);
        return -1;
    }

    // Graph surgery: the grabber goes in front of a new renderer.
    hr = pGB->Disconnect(pPinDevIn);
    if (Failed(hr)) ReportError("FAILED(hr=0x%x) in pGB->Disconnect(pPinDevIn)\n", Hex(hr));
    hr = pGB->Disconnect(pPinDecdOut);
    if (Failed(hr)) ReportError("FAILED(hr=0x%x) in pGB->Disconnect(pPinDecdOut)\n", Hex(hr));
    hr = pGB->RemoveFilter(pSoundDev);
    if (Failed(hr)) ReportError("FAILED(hr=0x%x) in pGB->RemoveFilter(pSoundDev)\n", Hex(hr));
    std::shared_ptr<IBaseFilter> pGrab;
    hr = AddFilter(*engine, pGB.get(), pDE.get(), CLSID_LegacyAmFilterCategory, kSampleGrabberName,
                   &pGrab);
    if (Failed(hr)) {
        ReportError(
            "FAILED(hr=0x%x) in AddFilter(pGB,pDE,CLSID_LegacyAmFilterCategory, "
            "\"SampleGrabber\",&pGrab)\n",
            Hex(hr));
    }
    if (pGrab == nullptr) return Abandon();
    std::shared_ptr<IPin> pPinGrabIn;
    hr = FindPin(pGrab.get(), kGrabberInputPin, &pPinGrabIn);
    if (Failed(hr))
        ReportError("FAILED(hr=0x%x) in FindPin(pGrab,\"Input\",&pPinGrabIn)\n", Hex(hr));
    std::shared_ptr<IPin> pPinGrabOut;
    hr = FindPin(pGrab.get(), kGrabberOutputPin, &pPinGrabOut);
    if (Failed(hr)) {
        ReportError("FAILED(hr=0x%x) in FindPin(pGrab,\"Output\",&pPinGrabOut)\n", Hex(hr));
    }
    hr = pGB->Connect(pPinDecdOut, pPinGrabIn);
    if (Failed(hr))
        ReportError("FAILED(hr=0x%x) in pGB->Connect(pPinDecdOut,pPinGrabIn)\n", Hex(hr));
    hr = pGB->Render(pPinGrabOut);
    if (Failed(hr)) ReportError("FAILED(hr=0x%x) in pGB->Render(pPinGrabOut)\n", Hex(hr));

    // Grabber set-up.
    std::shared_ptr<ISampleGrabber> pg;
    hr = pGrab->QuerySampleGrabber(&pg);
    if (Failed(hr)) {
        ReportError("FAILED(hr=0x%x) in pGrab->QueryInterface(IID_ISampleGrabber, (void **)&pg)\n",
                    Hex(hr));
    }
    if (pg == nullptr) return Abandon();
    hr = pg->SetOneShot(false);
    if (Failed(hr)) ReportError("FAILED(hr=0x%x) in pg->SetOneShot(FALSE)\n", Hex(hr));
    hr = pg->SetBufferSamples(false);
    if (Failed(hr)) ReportError("FAILED(hr=0x%x) in pg->SetBufferSamples(FALSE)\n", Hex(hr));
    m_pCallBack = new CGrabberCallback();
    m_pCallBack->AddRef();
    m_pCallBack->m_bCapture.store(1, std::memory_order_release);
    // Where a CaptureRun fills the CaptureBlock, the played graph hands its
    // buffers to a callback that takes nothing.
    CGrabberCallback* graphCallback = m_pCallBack;
    if (!captureInGraph) {
        graphCallback = new CGrabberCallback();
        graphCallback->AddRef();
    }
    hr = pg->SetCallback(graphCallback, 0);
    if (graphCallback != m_pCallBack) graphCallback->Release();
    if (Failed(hr)) ReportError("FAILED(hr=0x%x) in pg->SetCallback(m_pCallBack, 0)\n", Hex(hr));
    pg.reset();
    pGrab.reset();

    // Duration and available range.
    TimeFormat org = TimeFormat::MediaTime;
    hr = pMS->GetTimeFormat(&org);
    if (Failed(hr)) ReportError("FAILED(hr=0x%x) in pMS->GetTimeFormat(&org)\n", Hex(hr));
    hr = pMS->SetTimeFormat(TimeFormat::MediaTime);
    if (Failed(hr)) {
        ReportError("FAILED(hr=0x%x) in pMS->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME)\n", Hex(hr));
    }
    std::int64_t duration = 0;
    const HRESULT hrDuration = pMS->GetDuration(&duration);
    if (Failed(hrDuration)) {
        ReportError("FAILED(hr=0x%x) in pMS->GetDuration(&llDuration)\n", Hex(hrDuration));
    }
    hr = pMS->GetAvailable(&media.startFrame, &media.endFrame);
    if (Failed(hr)) {
        ReportError("FAILED(hr=0x%x) in pMS->GetAvailable(&m_startFrame,&m_endFrame)\n", Hex(hr));
    }
    hr = pMS->SetTimeFormat(org);
    if (Failed(hr)) ReportError("FAILED(hr=0x%x) in pMS->SetTimeFormat(&org)\n", Hex(hr));
    // Without a length nothing can be sized: the file is refused.
    if (Failed(hrDuration) || duration < 0) return Abandon();
    media.duration = duration;

    // Sizes, in 64 bits; a file too long for the 32-bit capture fields is refused.
    const std::int64_t totalMs = duration / 10000;
    const unsigned __int128 msPlusOne = static_cast<unsigned __int128>(totalMs) + 1;
    const unsigned __int128 frames =
        static_cast<unsigned __int128>(media.sampleRate) * msPlusOne / 1000;
    const unsigned __int128 bytes = msPlusOne * static_cast<unsigned>(media.bitsPerSample) *
                                    static_cast<unsigned>(media.channels) *
                                    static_cast<unsigned>(media.sampleRate) / 8000;
    if (frames > UINT32_MAX || bytes > UINT32_MAX) {
        RebuildGraph();
        ReportError(named, kMsgNoMemory);
        return -1;
    }
    media.frameCount = static_cast<std::uint32_t>(frames);
    media.byteCount = static_cast<std::uint32_t>(bytes);
    // A block that cannot be allocated leaves nothing to capture into; the load goes on.
    m_pCallBack->SetCaptureBuffer(media.byteCount);

    media.infoText = FormatInfoText(DateText(path, SourceText), media.channels, media.bitsPerSample,
                                    media.sampleRate, totalMs, SourceText);
    media.shownInfoText = FormatInfoText(DateText(path, UiText), media.channels,
                                         media.bitsPerSample, media.sampleRate, totalMs, UiText);

    // Video panel and graph events.
    if (g_bNoVideo == 0) {
        pVW->put_Owner(videoHost);
        pVW->put_WindowStyle(kVideoWindowStyle);
    }
    hr = pME->SetNotifyCallback(notify);
    PositionVideoWindow();
    if (g_bNoVideo == 0) {
        pVW->put_Visible(true);
        hr = pVW->SetWindowForeground(true);
        pGB->QueryVideoOutput(&videoOut);
    }
    return hr;
}

MediaSession::MediaSession(std::shared_ptr<IEngine> engine) : d_(std::make_unique<Impl>()) {
    d_->engine = std::move(engine);
}

MediaSession::~MediaSession() {
    d_->commands.Close();
    d_->StopGraph();
    d_->DestroyGraph();
}

HRESULT MediaSession::CreateGraph() { return d_->lastCreate = d_->CreateGraph(); }
HRESULT MediaSession::DestroyGraph() { return d_->DestroyGraph(); }
void MediaSession::RebuildGraph() { d_->RebuildGraph(); }
bool MediaSession::HasGraph() const { return d_->pGB != nullptr; }

HRESULT MediaSession::LoadMediaFile(const std::string& utf8Path, LoadedMedia* out) {
    const std::chrono::milliseconds timeout = d_->loadTimeout;
    if (timeout.count() <= 0) return d_->LoadMediaFile(utf8Path, out);
    if (out != nullptr) *out = LoadedMedia{};
    // The previous graph goes first, as in every load.
    d_->DestroyGraph();
    // The load runs in a fresh session with this one's settings; its result
    // then becomes this session.
    const Impl& me = *d_;
    AsyncLoad::Setup setup = [notify = me.notify, unsynchronised = me.unsynchronised,
                              capture = me.captureInGraph, main = me.mainWindow,
                              host = me.videoHost, left = me.hostLeft, top = me.hostTop,
                              width = me.hostWidth, height = me.hostHeight](MediaSession& session) {
        session.SetEventNotify(notify);
        session.SetUnsynchronised(unsynchronised);
        session.SetCaptureInGraph(capture);
        session.SetVideoHost(main, host, static_cast<int>(left), static_cast<int>(top),
                             static_cast<int>(width), static_cast<int>(height));
    };
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    AsyncLoad load;
    load.Start(d_->engine, utf8Path, std::move(setup), [done] {
        std::lock_guard lock(done->mutex);
        done->done = true;
        done->cv.notify_all();
    });
    {
        std::unique_lock lock(done->mutex);
        done->cv.wait_for(lock, timeout, [&] { return done->done; });
    }
    LoadOutcome outcome;
    if (!load.Take(&outcome)) {
        // Stuck inside the media framework: left to its own thread.
        load.Abandon();
        d_->RebuildGraph();
        ReportLoadTimedOut(utf8Path, timeout);
        return kLoadTimedOut;
    }
    for (const Report& report : outcome.reports) {
        ReportError(ReportDetails{report.details}, "%s", report.text.c_str());
    }
    if (out != nullptr) *out = outcome.media;
    if (outcome.session != nullptr) {
        outcome.session->d_->loadTimeout = timeout;
        std::swap(d_, outcome.session->d_);
    }
    return outcome.hr;
}

void MediaSession::SetLoadTimeout(std::chrono::milliseconds timeout) { d_->loadTimeout = timeout; }

CallbackRef MediaSession::callback() const { return CallbackRef(d_->m_pCallBack); }

HRESULT MediaSession::RunGraph() {
    if (d_->pMC == nullptr) return S_FALSE;
    const HRESULT hr = d_->pMC->Run();
    if (Failed(hr)) {
        ReportError("\r\n*** Failed(%08lx) in Run()!\r\n", LongHex(hr));
        return hr;
    }
    d_->g_nGraphState = 2;
    return hr;
}

HRESULT MediaSession::PauseGraph() {
    if (d_->pMC == nullptr) return S_FALSE;
    if (d_->g_nGraphState != 2) return S_OK;
    const HRESULT hr = d_->pMC->Pause();
    if (Failed(hr)) {
        ReportError("\r\n*** Failed(%08lx) in Pause()!\r\n", LongHex(hr));
        return hr;
    }
    d_->g_nGraphState = 1;
    return hr;
}

HRESULT MediaSession::StopGraph() { return d_->StopGraph(); }
int MediaSession::graphState() const { return d_->g_nGraphState; }

HRESULT MediaSession::GetState(int timeoutMs) {
    if (d_->pMC == nullptr) return E_POINTER;
    FilterState state;
    return d_->pMC->GetState(timeoutMs, &state);
}

HRESULT MediaSession::StopWhenReady() {
    if (d_->pMC == nullptr) return E_POINTER;
    return d_->pMC->StopWhenReady();
}

HRESULT MediaSession::GetCurrentPosition(std::int64_t* position) {
    if (d_->pMS == nullptr || position == nullptr) return E_POINTER;
    std::int64_t stop = 0;
    return d_->pMS->GetPositions(position, &stop);
}

HRESULT MediaSession::SetPositions(std::int64_t current, const std::int64_t* stop) {
    if (d_->pMS == nullptr) return E_POINTER;
    std::int64_t stopCopy = stop != nullptr ? *stop : 0;
    return d_->pMS->SetPositions(
        &current, AM_SEEKING_AbsolutePositioning, stop != nullptr ? &stopCopy : nullptr,
        stop != nullptr ? AM_SEEKING_AbsolutePositioning : AM_SEEKING_NoPositioning);
}

void MediaSession::StopAndRewind() {
    if (d_->pMC == nullptr) return;
    d_->StopGraph();
    HRESULT hr = GetState(500);
    if (Failed(hr)) ReportError("Failed to read graph state!  hr=0x%x\r\n", Hex(hr));
    hr = SetPositions(0, nullptr);
    if (Failed(hr)) ReportError("Failed to seek to beginning of media!  hr=0x%x\r\n", Hex(hr));
    hr = StopWhenReady();
    if (Failed(hr)) ReportError("Failed in StopWhenReady!  hr=0x%x\r\n", Hex(hr));
}

void MediaSession::Command(std::function<void(MediaSession&)> command, int key) {
    d_->commands.Post(
        [this, command = std::move(command)] {
            std::vector<Report> reports;
            const ReportSink previous =
                SetThreadReportSink([&reports](const Report& r) { reports.push_back(r); });
            command(*this);
            SetThreadReportSink(previous);
            if (reports.empty()) return;
            std::function<void()> reported;
            {
                std::lock_guard lock(d_->reportMutex);
                for (Report& r : reports) d_->commandReports.push_back(std::move(r));
                reported = d_->commandReported;
            }
            if (reported) reported();
        },
        key);
}

void MediaSession::SetCommandReported(std::function<void()> reported) {
    std::lock_guard lock(d_->reportMutex);
    d_->commandReported = std::move(reported);
}

std::vector<Report> MediaSession::TakeCommandReports() {
    std::lock_guard lock(d_->reportMutex);
    return std::exchange(d_->commandReports, {});
}

bool MediaSession::commandsIdle() const { return d_->commands.idle(); }

bool MediaSession::WaitCommandsIdle(std::chrono::milliseconds timeout) const {
    return d_->commands.WaitIdle(timeout);
}

void MediaSession::SetEventNotify(std::function<void()> notify) { d_->notify = std::move(notify); }

bool MediaSession::GetEvent(long* code) {
    if (d_->pME == nullptr) return false;
    long c = 0;
    std::intptr_t p1 = 0, p2 = 0;
    if (Failed(d_->pME->GetEvent(&c, &p1, &p2, 0))) return false;
    d_->pME->FreeEventParams(c, p1, p2);
    if (code != nullptr) *code = c;
    return true;
}

HRESULT MediaSession::MuteOn() { return d_->Volume(-10000); }
HRESULT MediaSession::MuteOff() { return d_->Volume(0); }
HRESULT MediaSession::SetVolume(int sliderPos) { return d_->Volume(100L * sliderPos - 10000); }
HRESULT MediaSession::PutVolume(long volume) { return d_->Volume(volume); }

bool MediaSession::noVideo() const { return d_->g_bNoVideo != 0; }
IVideoOutput* MediaSession::video() { return d_->videoOut.get(); }

void MediaSession::SetVideoHost(WindowHandle mainWindow, WindowHandle videoHost, int left, int top,
                                int width, int height) {
    d_->mainWindow = mainWindow;
    d_->videoHost = videoHost;
    d_->hostLeft = left;
    d_->hostTop = top;
    d_->hostWidth = width;
    d_->hostHeight = height;
}

HRESULT MediaSession::PositionVideoWindow() { return d_->PositionVideoWindow(); }

void MediaSession::SetCaptureInGraph(bool on) { d_->captureInGraph = on; }

void MediaSession::SetUnsynchronised(bool on) {
    d_->unsynchronised = on;
    if (d_->pGB != nullptr) d_->pGB->SetUnsynchronised(on);
}

}  // namespace vurma::media
