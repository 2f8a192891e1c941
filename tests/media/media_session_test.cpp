#include "media/media_session.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <tuple>

#include "fake_engine.h"
#include "media/grabber_callback.h"
#include "test_support.h"

namespace vurma::media {
namespace {

constexpr char kCannot[] = "このﾌｧｲﾙは処理できません。  ";
constexpr char kNoSound[] = "このﾌｧｲﾙには音声が含まれていません。  ";
constexpr char kNoMemory[] = "ﾒﾓﾘｰが不足しています。  ";

// A failed call's diagnostic, as the session words it.
std::string Failed(const std::string& call, const char* hr = "0x80004005") {
    return std::string("FAILED(hr=") + hr + ") in " + call + "\n";
}

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

    test::ReportRecorder rec;
    std::shared_ptr<FakeEngine> engine;
    MediaSession session;
    LoadedMedia media;
};

TEST_F(SessionTest, CreateGraphFailingAtAnyStepLeavesNoGraph) {
    const std::pair<const char*, const char*> steps[] = {
        {"Engine.CreateGraphBuilder",
         "CoCreateInstance(CLSID_FilterGraph, NULL,CLSCTX_INPROC, "
         "IID_IGraphBuilder,(void **)&pGB)"},
        {"Graph.QueryMediaSeeking", "pGB->QueryInterface(IID_IMediaSeeking, (void **)&pMS)"},
        {"Engine.CreateDevEnum",
         "CoCreateInstance(CLSID_SystemDeviceEnum,NULL,CLSCTX_INPROC, "
         "IID_ICreateDevEnum,(void **)&pDE)"},
        {"Rot.Register", "AddToRot(pGB,&g_dwRegister)"},
    };
    for (const auto& [call, message] : steps) {
        SCOPED_TRACE(call);
        auto eng = std::make_shared<FakeEngine>();
        eng->FailCall(call, E_FAIL);
        rec.texts.clear();
        {
            MediaSession s(eng);
            EXPECT_EQ(s.CreateGraph(), E_FAIL);
            EXPECT_FALSE(s.HasGraph());
            EXPECT_EQ(eng->liveGraphs(), 0);
            EXPECT_TRUE(eng->registered.empty());
        }
        EXPECT_EQ(rec.texts,
                  std::vector<std::string>{std::string("FAILED(0x80004005) ") + message + "\n"});
    }
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
    EXPECT_EQ(session.video(), nullptr);
    EXPECT_EQ(Lines23(media.infoText), "ﾓﾉﾗﾙ 8ﾋﾞｯﾄ 11.025KHz\n00分02秒000");
    CGrabberCallback* cb = session.callback();
    ASSERT_NE(cb, nullptr);
    EXPECT_EQ(cb->m_nBufSize, 22061u);
    EXPECT_EQ(cb->m_bCapture.load(), 1);
    EXPECT_TRUE(rec.texts.empty());
    // The grabber now stands between the decoder and a new renderer.
    EXPECT_EQ(engine->graph()->Filter(kSampleGrabberName)->callback, cb);
    const auto calls = engine->calls();  // no video window to attach after the rendering
    EXPECT_EQ(std::count(std::find(calls.begin(), calls.end(), "Graph.RenderFile"), calls.end(),
                         "Graph.put_Owner"),
              0);

    // A second load replaces the capture and keeps one graph.
    EXPECT_EQ(Load(File(2, 16, 44100, 30000000)), S_OK);
    EXPECT_EQ(media.byteCount, 529376u);
    ASSERT_NE(session.callback(), nullptr);
    EXPECT_EQ(session.callback()->m_nDataLen.load(), 0u);
    EXPECT_EQ(engine->liveGraphs(), 1);
    // Destroying the graph (twice is harmless) also ends its registration.
    session.DestroyGraph();
    EXPECT_EQ(session.DestroyGraph(), S_OK);
    EXPECT_TRUE(Graphless() && engine->registered.empty());
}

TEST(FormatInfoText, LinesAndLongLengths) {
    EXPECT_EQ(FormatInfoText("D", 2, 16, 44100, 205120), "D\nｽﾃﾚｵ 16ﾋﾞｯﾄ 44.100KHz\n03分25秒120");
    EXPECT_EQ(FormatInfoText("", 6, 8, 8000, 3600500), "\n6 ﾁｬﾈﾙ 8ﾋﾞｯﾄ  8.000KHz\n60分00秒500");
    EXPECT_EQ(Lines23(FormatInfoText("", 1, 16, 48000, 6000000)),
              "ﾓﾉﾗﾙ 16ﾋﾞｯﾄ 48.000KHz\n100分00秒000");
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

TEST_F(SessionTest, RefusalsLeaveAnEmptyGraphAndNoCapture) {
    FakeFile broken;
    broken.renderResult = E_CANNOT_RENDER;
    FakeFile silent = File(2, 16, 44100, 10000000);
    silent.hasAudio = false;
    silent.hasVideo = true;
    FakeFile endless = File(2, 16, 44100, 0);
    endless.durationResult = E_NOTIMPL;
    const struct {
        FakeFile file;
        HRESULT hr;
        std::string message;
    } cases[] = {
        {broken, E_CANNOT_RENDER, kCannot},
        {silent, -1, kNoSound},
        {File(2, 20, 44100, 10000000), -1, "20ﾋﾞｯﾄのｻﾝﾌﾟﾙは処理できません。  "},
        // Sizes past the 32-bit capture fields are refused, not wrapped.
        {File(8, 16, 192000, std::int64_t{3000} * 10000000), -1, kNoMemory},
        {endless, -1, Failed("pMS->GetDuration(&llDuration)", "0x80004001")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        rec.texts.clear();
        const int graphs = engine->CallCount("Engine.CreateGraphBuilder");
        EXPECT_EQ(Load(c.file), c.hr);
        if (c.hr == E_CANNOT_RENDER) {  // not rebuilt after a failed render
            EXPECT_EQ(engine->CallCount("Engine.CreateGraphBuilder"), graphs + 1);
        }
        EXPECT_EQ(rec.texts, std::vector<std::string>{c.message});
        EXPECT_EQ(session.callback(), nullptr);
        EXPECT_TRUE(EmptyGraph());
    }
}

struct LoadStep {
    const char* call;
    int after;
    bool loads;  // false: the load ends like a refusal
    std::vector<std::string> messages;
};

TEST_F(SessionTest, EachDiagnosticAndWhatFollows) {
    const char* const kMissing = "0xffffffff";  // a search that found nothing
    const char* const kNull = "0x80004003";     // a call on what a failed step left null
    const std::string kGetType = "GetMediaType(pPinDecdOut,FORMAT_WaveFormatEx,&pmt)";
    // A grabber left unconnected has no audio type to render, as in the real graph.
    const std::string kNoRender = Failed("pGB->Render(pPinGrabOut)", "0x80040218");
    const std::vector<std::string> kNoGrabber = {
        Failed("pGB->AddFilter(*ppFlt,x)", kNull),
        Failed("AddFilter(pGB,pDE,CLSID_LegacyAmFilterCategory, \"SampleGrabber\",&pGrab)", kNull)};
    // clang-format off
    const std::vector<LoadStep> steps = {
        {"AudioRenderer.EnumPins", 0, false,
         {Failed("pFlt->EnumPins(&pEnumPins)"),
          Failed("FindPin(pSoundDev,PINDIR_INPUT,1,&pPinDevIn)", kMissing)}},
        {"AudioRenderer.In.ConnectedTo", 0, false, {Failed("pPinDevIn->ConnectedTo(&pPinDecdOut)")}},
        {"Decoder.Out.EnumMediaTypes", 0, false,
         {Failed("pPin->EnumMediaTypes(&pEnumMts)"), Failed(kGetType, kMissing)}},
        // The decoder stays connected to the removed renderer, so the grabber is not connected.
        {"Graph.Disconnect", 1, true,
         {Failed("pGB->Disconnect(pPinDecdOut)"),
          Failed("pGB->Connect(pPinDecdOut,pPinGrabIn)", "0x80040204"), kNoRender}},
        {"Engine.CreateFilter", 0, false,
         {Failed("CoCreateInstance(clsidFilter,NULL,CLSCTX_INPROC, IID_IBaseFilter,(LPVOID *)ppFlt)"),
          kNoGrabber[0], kNoGrabber[1]}},
        {"SampleGrabber.EnumPins", 0, true,
         {Failed("pFlt->EnumPins(&pEnumPins)"),
          Failed("FindPin(pGrab,\"Input\",&pPinGrabIn)", kMissing),
          Failed("pGB->Connect(pPinDecdOut,pPinGrabIn)", kNull), kNoRender}},
        {"Graph.Connect", 0, true, {Failed("pGB->Connect(pPinDecdOut,pPinGrabIn)"), kNoRender}},
        {"SampleGrabber.QuerySampleGrabber", 0, false,
         {Failed("pGrab->QueryInterface(IID_ISampleGrabber, (void **)&pg)")}},
        {"SampleGrabber.SetCallback", 0, true, {Failed("pg->SetCallback(m_pCallBack, 0)")}},
        {"Graph.SetTimeFormat", 0, true, {Failed("pMS->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME)")}},
        {"Graph.SetWindowPosition", 0, true, {"Failed to set window position!  hr=0x80004005\r\n"}},
    };
    // clang-format on
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
        EXPECT_TRUE(step.loads ? hr >= 0 : hr == -1) << hr;
        EXPECT_EQ(s.callback() != nullptr, step.loads);
        EXPECT_EQ(eng->graph()->filters.empty(), !step.loads);  // a refusal leaves it empty
    }
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
    std::int64_t stop = 500, pos = 0;
    EXPECT_EQ(session.SetPositions(1234, &stop), S_OK);
    EXPECT_EQ(session.SetPositions(77, nullptr), S_OK);  // the stop position stays
    EXPECT_EQ(session.GetCurrentPosition(&pos), S_OK);
    EXPECT_EQ(std::make_tuple(pos, g->stopPosition), std::make_tuple(77, 500));
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
    EXPECT_EQ(session.MuteOn(), S_OK);
    EXPECT_EQ(g->volume, -10000);

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
