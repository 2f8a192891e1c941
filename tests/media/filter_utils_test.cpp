// The searches that rewire a rendered graph, on the scriptable engine. Their
// diagnostics are checked where the session reports them.
#include "media/filter_utils.h"

#include <gtest/gtest.h>

#include "media/fake_engine.h"
#include "test_support.h"

namespace vurma::media {
namespace {

MediaType Wave(int channels) {
    MediaType t;
    t.formatType = FormatType::WaveFormatEx;
    t.wave = {channels, 16, 44100};
    return t;
}

TEST(FilterUtils, FindPinCountsOneDirectionAndMatchesNamesExactly) {
    test::ReportRecorder rec;
    FakeEngine engine;
    auto filter = std::make_shared<FakeFilter>(&engine, "F");
    filter->AddPin("o1", PinDirection::Output);
    auto in1 = filter->AddPin("Input", PinDirection::Input);
    auto in2 = filter->AddPin("i2", PinDirection::Input);
    std::shared_ptr<IPin> pin;
    EXPECT_EQ(FindPin(filter.get(), PinDirection::Input, 2, &pin), S_OK);
    EXPECT_EQ(pin, in2);
    EXPECT_EQ(FindPin(filter.get(), PinDirection::Input, 1, &pin), S_OK);
    EXPECT_EQ(pin, in1);
    EXPECT_EQ(FindPin(filter.get(), PinDirection::Input, 3, &pin), -1);
    EXPECT_EQ(FindPin(filter.get(), PinDirection::Output, 0, &pin), -1);
    EXPECT_EQ(FindPin(filter.get(), "input", &pin), -1);
    EXPECT_EQ(pin, in1);  // untouched by the misses
    pin.reset();
    EXPECT_EQ(FindPin(filter.get(), "Input", &pin), S_OK);
    EXPECT_EQ(pin, in1);
    EXPECT_TRUE(rec.texts.empty());
}

TEST(FilterUtils, GetMediaTypeTakesTheFirstOfTheFormat) {
    FakeEngine engine;
    FakeFilter filter(&engine, "F");
    MediaType mt;
    EXPECT_EQ(
        GetMediaType(filter.AddPin("e", PinDirection::Output).get(), FormatType::WaveFormatEx, &mt),
        -1);
    auto pin = filter.AddPin("p", PinDirection::Output, {MediaType{}, Wave(1), Wave(2)});
    EXPECT_EQ(GetMediaType(pin.get(), FormatType::WaveFormatEx, &mt), S_OK);
    EXPECT_EQ(mt.wave.channels, 1);
    EXPECT_EQ(GetMediaType(pin.get(), FormatType::VideoInfo, &mt), -1);
}

TEST(FilterUtils, LoadFilterMatchesTheExactNameSkippingUnusableEntries) {
    test::ReportRecorder rec;
    FakeEngine engine;
    auto& cat = engine.category();
    cat.clear();
    cat.push_back({"Broken", "x", true});
    cat.push_back({"NoClsid", "x", false, true, false});
    cat.push_back({"BadClsid", ""});
    cat.push_back({"samplegrabber", kSampleGrabberName});
    cat.push_back({"SampleGrabber", kSampleGrabberName});
    std::shared_ptr<ICreateDevEnum> devEnum;
    ASSERT_EQ(engine.CreateDevEnum(&devEnum), S_OK);
    auto load = [&](const std::string& name, std::shared_ptr<IBaseFilter>* filter) {
        return LoadFilter(engine, devEnum.get(), CLSID_LegacyAmFilterCategory, name, filter);
    };
    std::shared_ptr<IBaseFilter> filter;
    EXPECT_EQ(load("Nothing", &filter), S_FALSE);
    EXPECT_EQ(filter, nullptr);
    EXPECT_EQ(load("SampleGrabber", &filter), S_OK);
    EXPECT_NE(filter, nullptr);
    EXPECT_TRUE(rec.texts.empty());
}

TEST(FilterUtils, FindFilterByExactNameOrNull) {
    test::ReportRecorder rec;
    FakeEngine engine;
    engine.AddFile("a.wav", {});
    std::shared_ptr<IGraphBuilder> graph;
    ASSERT_EQ(engine.CreateGraphBuilder(&graph), S_OK);
    ASSERT_EQ(graph->RenderFile("a.wav"), S_OK);
    EXPECT_NE(FindFilter(graph.get(), kAudioRendererName), nullptr);
    EXPECT_EQ(FindFilter(graph.get(), "audiorenderer"), nullptr);
    for (const char* call : {"Graph.EnumFilters", "Source.QueryFilterInfo"}) {
        engine.FailCall(call, E_FAIL);
        EXPECT_EQ(FindFilter(graph.get(), kAudioRendererName), nullptr) << call;
        engine.ClearFailures();
    }
}

}  // namespace
}  // namespace vurma::media
