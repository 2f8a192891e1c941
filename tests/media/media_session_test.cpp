#include "media/media_session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "media/fake_engine.h"
#include "media/grabber_callback.h"
#include "report_recorder.h"

namespace vurma::media {
namespace {

using testing::ReportRecorder;

constexpr char kCannot[] = "このﾌｧｲﾙは処理できません。  ";
constexpr char kNoSound[] = "このﾌｧｲﾙには音声が含まれていません。  ";
constexpr char kNoMemory[] = "ﾒﾓﾘｰが不足しています。  ";

std::string Lines23(const std::string& info) { return info.substr(info.find('\n') + 1); }

class SessionTest : public ::testing::Test {
  protected:
    SessionTest() : engine(std::make_shared<FakeEngine>()), session(engine) {}

    FakeFile File(int channels, int bits, int rate, std::int64_t duration) {
        FakeFile f;
        f.format = {channels, bits, rate};
        f.duration = duration;
        return f;
    }
    HRESULT Load(const FakeFile& f, LoadedMedia* out = nullptr) {
        engine->AddFile("f.wav", f);
        return session.LoadMediaFile("f.wav", out != nullptr ? out : &media);
    }
    bool Graphless() const { return !session.HasGraph() && engine->liveGraphs() == 0; }
    bool EmptyGraph() const {
        auto g = engine->graph();
        return session.HasGraph() && g != nullptr && g->filters.empty() &&
               engine->liveGraphs() == 1;
    }

    ReportRecorder rec;
    std::shared_ptr<FakeEngine> engine;
    MediaSession session;
    LoadedMedia media;
};

struct CreateStep {
    const char* call;
    const char* message;
};

TEST_F(SessionTest, CreateGraphFailingAtAnyStepLeavesNoGraph) {
    const CreateStep steps[] = {
        {"Engine.CreateGraphBuilder",
         "FAILED(0x80004005) CoCreateInstance(CLSID_FilterGraph, NULL,CLSCTX_INPROC, "
         "IID_IGraphBuilder,(void **)&pGB)\n"},
        {"Engine.CreateCaptureGraphBuilder",
         "FAILED(0x80004005) CoCreateInstance(CLSID_CaptureGraphBuilder2,NULL,CLSCTX_INPROC, "
         "IID_ICaptureGraphBuilder2,(void **)&pCG)\n"},
        {"Graph.QueryMediaControl",
         "FAILED(0x80004005) pGB->QueryInterface(IID_IMediaControl, (void **)&pMC)\n"},
        {"Graph.QueryMediaSeeking",
         "FAILED(0x80004005) pGB->QueryInterface(IID_IMediaSeeking, (void **)&pMS)\n"},
        {"Graph.QueryBasicVideo",
         "FAILED(0x80004005) pGB->QueryInterface(IID_IBasicVideo, (void **)&pBV)\n"},
        {"Graph.QueryVideoWindow",
         "FAILED(0x80004005) pGB->QueryInterface(IID_IVideoWindow, (void **)&pVW)\n"},
        {"Graph.QueryMediaEvent",
         "FAILED(0x80004005) pGB->QueryInterface(IID_IMediaEventEx, (void **)&pME)\n"},
        {"Engine.CreateDevEnum",
         "FAILED(0x80004005) CoCreateInstance(CLSID_SystemDeviceEnum,NULL,CLSCTX_INPROC, "
         "IID_ICreateDevEnum,(void **)&pDE)\n"},
        {"Engine.GetRunningObjectTable", "FAILED(0x80004005) AddToRot(pGB,&g_dwRegister)\n"},
        {"Rot.Register", "FAILED(0x80004005) AddToRot(pGB,&g_dwRegister)\n"},
    };
    for (const CreateStep& step : steps) {
        SCOPED_TRACE(step.call);
        auto eng = std::make_shared<FakeEngine>();
        eng->FailCall(step.call, E_FAIL);
        rec.texts.clear();
        {
            MediaSession s(eng);
            EXPECT_EQ(s.CreateGraph(), E_FAIL);
            EXPECT_FALSE(s.HasGraph());
            EXPECT_EQ(eng->liveGraphs(), 0);
            EXPECT_TRUE(eng->registered.empty());
        }
        ASSERT_EQ(rec.texts.size(), 1u);
        EXPECT_EQ(rec.texts[0], step.message);
    }
}

TEST_F(SessionTest, NoEngineMeansNoGraph) {
    MediaSession s(nullptr);
    EXPECT_EQ(s.CreateGraph(), E_POINTER);
    EXPECT_LT(s.LoadMediaFile("f.wav", &media), 0);
    EXPECT_FALSE(s.HasGraph());
    EXPECT_EQ(s.RunGraph(), S_FALSE);
}

TEST_F(SessionTest, DestroyGraphIsHarmlessWithoutAGraphAndTwice) {
    EXPECT_EQ(session.DestroyGraph(), S_OK);
    ASSERT_EQ(session.CreateGraph(), S_OK);
    EXPECT_EQ(engine->registered.size(), 1u);
    session.DestroyGraph();
    EXPECT_EQ(session.DestroyGraph(), S_OK);
    EXPECT_TRUE(Graphless());
    EXPECT_TRUE(engine->registered.empty());
    EXPECT_TRUE(rec.texts.empty());
}

TEST(RotItemName, AddressAndProcessId) {
    const std::string name = RotItemName(reinterpret_cast<void*>(0x1234abcdu), 1234);
    EXPECT_EQ(name, "FilterGraph 1234abcd pid 000004d2");
}

TEST_F(SessionTest, LoadSizesTheCaptureAndWritesTheInformation) {
    ASSERT_EQ(session.CreateGraph(), S_OK);
    EXPECT_EQ(Load(File(1, 8, 11025, 20000000)), S_OK);  // sound only: SetNotifyCallback's result
    EXPECT_EQ(media.frameCount, 22061u);
    EXPECT_EQ(media.byteCount, 22061u);
    EXPECT_EQ(media.endFrame, 20000000);
    EXPECT_TRUE(media.noVideo);
    EXPECT_TRUE(session.noVideo());
    EXPECT_EQ(session.video(), nullptr);
    EXPECT_EQ(Lines23(media.infoText), "ﾓﾉﾗﾙ 8ﾋﾞｯﾄ 11.025KHz\n00分02秒000");
    CGrabberCallback* cb = session.callback();
    ASSERT_NE(cb, nullptr);
    EXPECT_EQ(cb->m_nBufSize, 22061u);
    EXPECT_EQ(cb->m_bCapture.load(), 1);
    EXPECT_TRUE(rec.texts.empty());

    // The grabber now stands between the decoder and a new renderer.
    auto g = engine->graph();
    auto grab = g->Filter(kSampleGrabberName);
    ASSERT_NE(grab, nullptr);
    EXPECT_EQ(grab->callback, cb);
    // Without video the window is neither attached nor shown.
    const auto calls = engine->calls();
    const auto rendered = std::find(calls.begin(), calls.end(), "Graph.RenderFile");
    EXPECT_EQ(std::count(rendered, calls.end(), "Graph.put_Owner"), 0);
    EXPECT_EQ(std::count(rendered, calls.end(), "Graph.put_Visible"), 0);
    grab.reset();
    g.reset();

    EXPECT_EQ(Load(File(2, 16, 44100, 30000000)), S_OK);
    EXPECT_EQ(media.frameCount, 132344u);
    EXPECT_EQ(media.byteCount, 529376u);
    EXPECT_EQ(Lines23(media.infoText), "ｽﾃﾚｵ 16ﾋﾞｯﾄ 44.100KHz\n00分03秒000");
    EXPECT_NE(session.callback(), nullptr);
    EXPECT_EQ(session.callback()->m_nDataLen.load(), 0u);
    EXPECT_EQ(engine->liveGraphs(), 1);
}

TEST(FormatInfoText, LinesAndLongLengths) {
    EXPECT_EQ(FormatInfoText("D", 2, 16, 44100, 205120), "D\nｽﾃﾚｵ 16ﾋﾞｯﾄ 44.100KHz\n03分25秒120");
    EXPECT_EQ(FormatInfoText("", 6, 8, 8000, 3600500), "\n6 ﾁｬﾈﾙ 8ﾋﾞｯﾄ  8.000KHz\n60分00秒500");
    EXPECT_EQ(Lines23(FormatInfoText("", 1, 16, 48000, 6000000)),
              "ﾓﾉﾗﾙ 16ﾋﾞｯﾄ 48.000KHz\n100分00秒000");
}

TEST_F(SessionTest, InformationStartsWithTheFileDate) {
    const char* dir = std::getenv("VURMA_TEST_TMP");
    const std::string path = std::string(dir != nullptr ? dir : "/tmp") + "/dated.wav";
    std::string mkdir = std::string("mkdir -p ") + (dir != nullptr ? dir : "/tmp");
    ASSERT_EQ(std::system(mkdir.c_str()), 0);
    std::ofstream(path) << "x";
    engine->AddFile(path, File(2, 16, 44100, 10000000));
    ASSERT_GE(session.LoadMediaFile(path, &media), 0);
    const std::string date = media.infoText.substr(0, media.infoText.find('\n'));
    EXPECT_NE(date.find("年"), std::string::npos);
    EXPECT_NE(date.find("時"), std::string::npos);
    EXPECT_EQ(date.size(), std::string("2026年12月06日 20時20分").size());
}

TEST_F(SessionTest, VideoFileAttachesTheVideoWindow) {
    session.SetVideoHost(7, 9, 1, 2, 320, 240);
    FakeFile f = File(2, 16, 44100, 10000000);
    f.hasVideo = true;
    EXPECT_EQ(Load(f), S_OK);
    EXPECT_FALSE(media.noVideo);
    EXPECT_NE(session.video(), nullptr);
    auto g = engine->graph();
    EXPECT_EQ(g->owner, 9u);
    EXPECT_EQ(g->windowStyle, 0x46000000);
    EXPECT_EQ(g->windowRect[2], 320);
    EXPECT_TRUE(g->visible);
    g->PostFrame({4, 2, 16, std::vector<std::uint8_t>(32, 1), 0});
    VideoFrame frame;
    EXPECT_TRUE(session.video()->TakeFrame(&frame));
    EXPECT_EQ(frame.width, 4);
    EXPECT_FALSE(session.video()->TakeFrame(&frame));
}

TEST_F(SessionTest, Refusals) {
    FakeFile broken;
    broken.renderResult = E_CANNOT_RENDER;
    EXPECT_EQ(Load(broken), E_CANNOT_RENDER);
    EXPECT_EQ(rec.texts, std::vector<std::string>{kCannot});
    EXPECT_EQ(session.callback(), nullptr);
    EXPECT_EQ(engine->CallCount("Engine.CreateGraphBuilder"), 1);  // not rebuilt after rendering

    rec.texts.clear();
    FakeFile silent = File(2, 16, 44100, 10000000);
    silent.hasAudio = false;
    silent.hasVideo = true;
    EXPECT_EQ(Load(silent), -1);
    EXPECT_EQ(rec.texts, std::vector<std::string>{kNoSound});
    EXPECT_TRUE(EmptyGraph());

    rec.texts.clear();
    EXPECT_EQ(Load(File(2, 24, 44100, 10000000)), -1);
    EXPECT_EQ(rec.texts, std::vector<std::string>{"24ﾋﾞｯﾄのｻﾝﾌﾟﾙは処理できません。  "});
    EXPECT_EQ(media.bitsPerSample, 24);
    EXPECT_EQ(session.callback(), nullptr);
    EXPECT_TRUE(EmptyGraph());

    // Sizes past the 32-bit capture fields are refused, not wrapped.
    rec.texts.clear();
    EXPECT_EQ(Load(File(8, 16, 192000, std::int64_t{3000} * 10000000)), -1);
    EXPECT_EQ(rec.texts, std::vector<std::string>{kNoMemory});
    EXPECT_EQ(session.callback(), nullptr);
    EXPECT_TRUE(EmptyGraph());

    rec.texts.clear();
    FakeFile endless = File(2, 16, 44100, 0);
    endless.durationResult = E_NOTIMPL;
    EXPECT_EQ(Load(endless), -1);
    EXPECT_EQ(rec.texts,
              std::vector<std::string>{"FAILED(hr=0x80004001) in pMS->GetDuration(&llDuration)\n"});
    EXPECT_EQ(session.callback(), nullptr);
    EXPECT_TRUE(EmptyGraph());
}

struct LoadStep {
    const char* call;
    int after;
    std::vector<std::string> messages;
    bool loads;  // false: the load ends like a refusal
};

TEST_F(SessionTest, EachDiagnosticAndWhatFollows) {
    const std::string e = "0x80004005";
    const std::vector<LoadStep> steps = {
        {"AudioRenderer.EnumPins",
         0,
         {"FAILED(hr=0x80004005) in pFlt->EnumPins(&pEnumPins)\n",
          "FAILED(hr=0xffffffff) in FindPin(pSoundDev,PINDIR_INPUT,1,&pPinDevIn)\n"},
         false},
        {"AudioRenderer.In.ConnectedTo",
         0,
         {"FAILED(hr=0x80004005) in pPinDevIn->ConnectedTo(&pPinDecdOut)\n"},
         false},
        {"Decoder.Out.EnumMediaTypes",
         0,
         {"FAILED(hr=0x80004005) in pPin->EnumMediaTypes(&pEnumMts)\n",
          "FAILED(hr=0xffffffff) in GetMediaType(pPinDecdOut,FORMAT_WaveFormatEx,&pmt)\n"},
         false},
        {"MediaTypes.Next",
         0,
         {"FAILED(hr=0x80004005) in pEnumMts->Next(1,&pmt,NULL)\n",
          "FAILED(hr=0xffffffff) in GetMediaType(pPinDecdOut,FORMAT_WaveFormatEx,&pmt)\n"},
         false},
        {"Graph.Disconnect", 0, {"FAILED(hr=0x80004005) in pGB->Disconnect(pPinDevIn)\n"}, true},
        // The decoder stays connected to the removed renderer, so the grabber is not connected.
        {"Graph.Disconnect",
         1,
         {"FAILED(hr=0x80004005) in pGB->Disconnect(pPinDecdOut)\n",
          "FAILED(hr=0x80040204) in pGB->Connect(pPinDecdOut,pPinGrabIn)\n"},
         true},
        {"Graph.RemoveFilter",
         0,
         {"FAILED(hr=0x80004005) in pGB->RemoveFilter(pSoundDev)\n"},
         true},
        {"DevEnum.CreateClassEnumerator",
         0,
         {"FAILED(hr=0x80004005) in devEnum->CreateClassEnumerator(clsid, &pEnumCat, 0)\n",
          "FAILED(hr=0x80004003) in pGB->AddFilter(*ppFlt,x)\n",
          "FAILED(hr=0x80004003) in AddFilter(pGB,pDE,CLSID_LegacyAmFilterCategory, "
          "\"SampleGrabber\",&pGrab)\n"},
         false},
        {"Engine.CreateFilter",
         0,
         {"FAILED(hr=0x80004005) in CoCreateInstance(clsidFilter,NULL,CLSCTX_INPROC, "
          "IID_IBaseFilter,(LPVOID *)ppFlt)\n",
          "FAILED(hr=0x80004003) in pGB->AddFilter(*ppFlt,x)\n",
          "FAILED(hr=0x80004003) in AddFilter(pGB,pDE,CLSID_LegacyAmFilterCategory, "
          "\"SampleGrabber\",&pGrab)\n"},
         false},
        {"SampleGrabber.EnumPins",
         0,
         {"FAILED(hr=0x80004005) in pFlt->EnumPins(&pEnumPins)\n",
          "FAILED(hr=0xffffffff) in FindPin(pGrab,\"Input\",&pPinGrabIn)\n",
          "FAILED(hr=0x80004003) in pGB->Connect(pPinDecdOut,pPinGrabIn)\n"},
         true},
        {"SampleGrabber.EnumPins",
         1,
         {"FAILED(hr=0x80004005) in pFlt->EnumPins(&pEnumPins)\n",
          "FAILED(hr=0xffffffff) in FindPin(pGrab,\"Output\",&pPinGrabOut)\n",
          "FAILED(hr=0x80004003) in pGB->Render(pPinGrabOut)\n"},
         true},
        {"Graph.Connect",
         0,
         {"FAILED(hr=0x80004005) in pGB->Connect(pPinDecdOut,pPinGrabIn)\n"},
         true},
        {"Graph.Render", 0, {"FAILED(hr=0x80004005) in pGB->Render(pPinGrabOut)\n"}, true},
        {"SampleGrabber.QuerySampleGrabber",
         0,
         {"FAILED(hr=0x80004005) in pGrab->QueryInterface(IID_ISampleGrabber, (void **)&pg)\n"},
         false},
        {"SampleGrabber.SetOneShot", 0, {"FAILED(hr=0x80004005) in pg->SetOneShot(FALSE)\n"}, true},
        {"SampleGrabber.SetBufferSamples",
         0,
         {"FAILED(hr=0x80004005) in pg->SetBufferSamples(FALSE)\n"},
         true},
        {"SampleGrabber.SetCallback",
         0,
         {"FAILED(hr=0x80004005) in pg->SetCallback(m_pCallBack, 0)\n"},
         true},
        {"Graph.GetTimeFormat", 0, {"FAILED(hr=0x80004005) in pMS->GetTimeFormat(&org)\n"}, true},
        {"Graph.SetTimeFormat",
         0,
         {"FAILED(hr=0x80004005) in pMS->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME)\n"},
         true},
        {"Graph.SetTimeFormat", 1, {"FAILED(hr=0x80004005) in pMS->SetTimeFormat(&org)\n"}, true},
        {"Graph.GetAvailable",
         0,
         {"FAILED(hr=0x80004005) in pMS->GetAvailable(&m_startFrame,&m_endFrame)\n"},
         true},
        {"Graph.SetWindowPosition", 0, {"Failed to set window position!  hr=0x80004005\r\n"}, true},
    };
    for (const LoadStep& step : steps) {
        SCOPED_TRACE(std::string(step.call) + " after " + std::to_string(step.after));
        auto eng = std::make_shared<FakeEngine>();
        MediaSession s(eng);
        FakeFile f = File(2, 16, 44100, 10000000);
        f.hasVideo = true;
        eng->AddFile("f", f);
        eng->FailCall(step.call, E_FAIL, step.after, 1);
        rec.texts.clear();
        const HRESULT hr = s.LoadMediaFile("f", &media);
        EXPECT_EQ(rec.texts, step.messages);
        if (step.loads) {
            EXPECT_GE(hr, 0);
            EXPECT_NE(s.callback(), nullptr);
        } else {
            EXPECT_EQ(hr, -1);
            EXPECT_EQ(s.callback(), nullptr);
            EXPECT_TRUE(eng->graph()->filters.empty());
        }
    }
}

TEST_F(SessionTest, CallbackReceivesFedSamplesFromTheFirst) {
    ASSERT_EQ(Load(File(1, 8, 8000, 10000000)), S_OK);
    EXPECT_TRUE(engine->FeedSample(0.0, {1, 2, 3}, false, true));
    EXPECT_TRUE(engine->FeedSample(0.1, {4}));
    EXPECT_EQ(session.callback()->m_nDataLen.load(), 4u);
}

TEST_F(SessionTest, TransportKeepsTheGraphStateOnlyOnSuccess) {
    EXPECT_EQ(session.RunGraph(), S_FALSE);  // no graph: nothing happens
    ASSERT_EQ(Load(File(2, 16, 44100, 10000000)), S_OK);
    auto g = engine->graph();
    EXPECT_EQ(session.PauseGraph(), S_OK);  // not running: no call
    EXPECT_EQ(engine->CallCount("Graph.Pause"), 0);
    EXPECT_EQ(session.StopGraph(), S_OK);
    EXPECT_EQ(engine->CallCount("Graph.Stop"), 0);
    engine->FailCall("Graph.Run", E_FAIL, 0, 1);
    EXPECT_EQ(session.RunGraph(), E_FAIL);
    EXPECT_EQ(session.graphState(), 0);
    EXPECT_EQ(session.RunGraph(), S_OK);
    EXPECT_EQ(session.graphState(), 2);
    engine->FailCall("Graph.Pause", static_cast<HRESULT>(0x8004020Bu), 0, 1);
    EXPECT_EQ(session.PauseGraph(), static_cast<HRESULT>(0x8004020Bu));
    EXPECT_EQ(session.graphState(), 2);
    EXPECT_EQ(session.PauseGraph(), S_OK);
    EXPECT_EQ(session.graphState(), 1);
    engine->FailCall("Graph.Stop", E_FAIL, 0, 1);
    EXPECT_EQ(session.StopGraph(), E_FAIL);
    EXPECT_EQ(session.graphState(), 1);
    EXPECT_EQ(rec.texts, (std::vector<std::string>{"\r\n*** Failed(80004005) in Run()!\r\n",
                                                   "\r\n*** Failed(8004020b) in Pause()!\r\n",
                                                   "\r\n*** Failed(80004005) in Stop()!\r\n"}));
    std::int64_t stop = 500;
    EXPECT_EQ(session.SetPositions(1234, &stop), S_OK);
    EXPECT_EQ(g->position, 1234);
    EXPECT_EQ(g->stopPosition, 500);
    EXPECT_EQ(session.SetPositions(77, nullptr), S_OK);
    EXPECT_EQ(g->stopPosition, 500);
    std::int64_t pos = 0;
    EXPECT_EQ(session.GetCurrentPosition(&pos), S_OK);
    EXPECT_EQ(pos, 77);
}

TEST_F(SessionTest, StopAndRewindReportsEachStepAndGoesOn) {
    ASSERT_EQ(Load(File(2, 16, 44100, 10000000)), S_OK);
    session.RunGraph();
    engine->graph()->position = 999;
    engine->FailCall("Graph.GetState", E_FAIL);
    engine->FailCall("Graph.SetPositions", E_FAIL);
    engine->FailCall("Graph.StopWhenReady", E_FAIL);
    session.StopAndRewind();
    EXPECT_EQ(session.graphState(), 0);
    EXPECT_EQ(rec.texts,
              (std::vector<std::string>{"Failed to read graph state!  hr=0x80004005\r\n",
                                        "Failed to seek to beginning of media!  hr=0x80004005\r\n",
                                        "Failed in StopWhenReady!  hr=0x80004005\r\n"}));
    engine->ClearFailures();
    session.StopAndRewind();
    EXPECT_EQ(engine->graph()->position, 0);
}

TEST_F(SessionTest, EventsArriveThroughOneNotificationAndDrainWithoutWaiting) {
    int notified = 0;
    session.SetEventNotify([&] { ++notified; });
    ASSERT_EQ(Load(File(2, 16, 44100, 10000000)), S_OK);
    long code = 0;
    EXPECT_FALSE(session.GetEvent(&code));
    engine->PostEvent(EC_ERRORABORT);
    engine->PostComplete();
    EXPECT_EQ(notified, 2);
    EXPECT_TRUE(session.GetEvent(&code));
    EXPECT_EQ(code, EC_ERRORABORT);
    EXPECT_TRUE(session.GetEvent(&code));
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_FALSE(session.GetEvent(&code));
    EXPECT_EQ(engine->CallCount("Graph.FreeEventParams"), 2);
}

TEST_F(SessionTest, VolumeSequence) {
    EXPECT_EQ(session.MuteOn(), S_FALSE);  // no graph
    ASSERT_EQ(Load(File(2, 16, 44100, 10000000)), S_OK);
    auto g = engine->graph();
    EXPECT_EQ(session.SetVolume(94), S_OK);
    EXPECT_EQ(g->volume, -600);
    EXPECT_EQ(session.SetVolume(0), S_OK);
    EXPECT_EQ(g->volume, -10000);
    EXPECT_EQ(session.MuteOff(), S_OK);
    EXPECT_EQ(g->volume, 0);
    EXPECT_EQ(session.MuteOn(), S_OK);
    EXPECT_EQ(g->volume, -10000);
    EXPECT_TRUE(rec.texts.empty());

    engine->FailCall("Graph.get_Volume", E_NOTIMPL, 0, 1);
    session.MuteOff();
    EXPECT_EQ(g->volume, -10000);
    EXPECT_TRUE(rec.texts.empty());
    engine->FailCall("Graph.get_Volume", E_FAIL, 0, 1);
    session.MuteOff();
    engine->FailCall("Graph.put_Volume", E_FAIL, 0, 1);
    session.MuteOff();
    EXPECT_EQ(rec.texts,
              (std::vector<std::string>{"Failed in pBA->get_Volume!  hr=0x80004005\r\n",
                                        "Failed in pBA->put_Volume!  hr=0x80004005\r\n"}));
    engine->FailCall("Graph.QueryBasicAudio", E_NOINTERFACE, 0, 1);
    EXPECT_EQ(session.MuteOff(), S_FALSE);
}

}  // namespace
}  // namespace vurma::media
