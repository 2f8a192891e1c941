#include "media/filter_utils.h"

#include <gtest/gtest.h>

#include "media/fake_engine.h"
#include "report_recorder.h"

namespace vurma::media {
namespace {

using testing::ReportRecorder;

MediaType Wave(int channels) {
    MediaType t;
    t.formatType = FormatType::WaveFormatEx;
    t.wave = {channels, 16, 44100};
    return t;
}

TEST(FindPin, ByDirectionCountsOnlyThatDirection) {
    FakeEngine engine;
    auto filter = std::make_shared<FakeFilter>(&engine, "F");
    auto out1 = filter->AddPin("o1", PinDirection::Output);
    auto in1 = filter->AddPin("i1", PinDirection::Input);
    auto in2 = filter->AddPin("i2", PinDirection::Input);
    std::shared_ptr<IPin> pin;
    EXPECT_EQ(FindPin(filter.get(), PinDirection::Input, 1, &pin), S_OK);
    EXPECT_EQ(pin, in1);
    EXPECT_EQ(FindPin(filter.get(), PinDirection::Input, 2, &pin), S_OK);
    EXPECT_EQ(pin, in2);
    pin.reset();
    EXPECT_EQ(FindPin(filter.get(), PinDirection::Input, 3, &pin), -1);
    EXPECT_EQ(FindPin(filter.get(), PinDirection::Output, 0, &pin), -1);
    EXPECT_EQ(pin, nullptr);
}

TEST(FindPin, ByNameIsCaseSensitiveAndReportsEnumerationFailure) {
    ReportRecorder rec;
    FakeEngine engine;
    auto filter = std::make_shared<FakeFilter>(&engine, "F");
    auto input = filter->AddPin("Input", PinDirection::Input);
    std::shared_ptr<IPin> pin;
    EXPECT_EQ(FindPin(filter.get(), "input", &pin), -1);
    EXPECT_EQ(FindPin(filter.get(), "Input", &pin), S_OK);
    EXPECT_EQ(pin, input);
    engine.FailCall("F.EnumPins", E_FAIL);
    pin.reset();
    EXPECT_EQ(FindPin(filter.get(), "Input", &pin), -1);
    EXPECT_EQ(pin, nullptr);
    ASSERT_EQ(rec.texts.size(), 1u);
    EXPECT_EQ(rec.texts[0], "FAILED(hr=0x80004005) in pFlt->EnumPins(&pEnumPins)\n");
}

TEST(GetMediaType, FirstOfTheFormatOrNone) {
    ReportRecorder rec;
    FakeEngine engine;
    FakeFilter filter(&engine, "F");
    auto empty = filter.AddPin("e", PinDirection::Output);
    MediaType mt;
    EXPECT_EQ(GetMediaType(empty.get(), FormatType::WaveFormatEx, &mt), -1);
    EXPECT_EQ(engine.CallCount("MediaTypes.Next"), 0);
    auto pin = filter.AddPin("p", PinDirection::Output, {MediaType{}, Wave(1), Wave(2)});
    EXPECT_EQ(GetMediaType(pin.get(), FormatType::WaveFormatEx, &mt), S_OK);
    EXPECT_EQ(mt.wave.channels, 1);
    EXPECT_EQ(GetMediaType(pin.get(), FormatType::VideoInfo, &mt), -1);
    engine.FailCall("MediaTypes.Next", static_cast<HRESULT>(0x8007000Eu), 0, 1);
    EXPECT_EQ(GetMediaType(pin.get(), FormatType::WaveFormatEx, &mt), -1);
    ASSERT_EQ(rec.texts.size(), 1u);
    EXPECT_EQ(rec.texts[0], "FAILED(hr=0x8007000e) in pEnumMts->Next(1,&pmt,NULL)\n");
}

TEST(LoadFilter, MatchesByExactNameOrWildcardSkippingUnusableEntries) {
    ReportRecorder rec;
    FakeEngine engine;
    auto& cat = engine.category();
    cat.clear();
    cat.push_back({"Broken", "x", true});
    cat.push_back({"NoClsid", "x", false, true, false});
    cat.push_back({"BadClsid", ""});
    cat.push_back({"samplegrabber", kSampleGrabberName});
    cat.push_back({"SampleGrabber", kSampleGrabberName});
    std::shared_ptr<IBaseFilter> filter;
    std::shared_ptr<ICreateDevEnum> devEnum;
    ASSERT_EQ(engine.CreateDevEnum(&devEnum), S_OK);
    EXPECT_EQ(LoadFilter(engine, devEnum.get(), CLSID_LegacyAmFilterCategory, "Nothing", &filter),
              S_FALSE);
    EXPECT_EQ(filter, nullptr);
    EXPECT_EQ(
        LoadFilter(engine, devEnum.get(), CLSID_LegacyAmFilterCategory, "SampleGrabber", &filter),
        S_OK);
    EXPECT_NE(filter, nullptr);
    engine.ClearCalls();
    filter.reset();
    // "*" takes the first entry with both values and a parseable class id.
    EXPECT_EQ(LoadFilter(engine, devEnum.get(), CLSID_LegacyAmFilterCategory, "*", &filter), S_OK);
    EXPECT_NE(filter, nullptr);
    EXPECT_EQ(engine.CallCount("Engine.ClsidFromString"), 2);
    EXPECT_TRUE(rec.texts.empty());
}

TEST(LoadFilter, FailedCreationIsReportedAndStillMatches) {
    ReportRecorder rec;
    FakeEngine engine;
    std::shared_ptr<ICreateDevEnum> devEnum;
    ASSERT_EQ(engine.CreateDevEnum(&devEnum), S_OK);
    engine.FailCall("Engine.CreateFilter", E_OUTOFMEMORY);
    std::shared_ptr<IBaseFilter> filter;
    EXPECT_EQ(LoadFilter(engine, devEnum.get(), CLSID_LegacyAmFilterCategory, kSampleGrabberName,
                         &filter),
              S_OK);
    EXPECT_EQ(filter, nullptr);
    ASSERT_EQ(rec.texts.size(), 1u);
    EXPECT_EQ(rec.texts[0],
              "FAILED(hr=0x8007000e) in CoCreateInstance(clsidFilter,NULL,CLSCTX_INPROC, "
              "IID_IBaseFilter,(LPVOID *)ppFlt)\n");
}

TEST(FindFilter, ByExactNameOrNull) {
    FakeEngine engine;
    engine.AddFile("a.wav", {});
    std::shared_ptr<IGraphBuilder> graph;
    ASSERT_EQ(engine.CreateGraphBuilder(&graph), S_OK);
    ASSERT_EQ(graph->RenderFile("a.wav"), S_OK);
    EXPECT_NE(FindFilter(graph.get(), kAudioRendererName), nullptr);
    EXPECT_EQ(FindFilter(graph.get(), "audiorenderer"), nullptr);
    engine.FailCall("Graph.EnumFilters", E_FAIL);
    EXPECT_EQ(FindFilter(graph.get(), kAudioRendererName), nullptr);
    engine.ClearFailures();
    engine.FailCall("Source.QueryFilterInfo", E_FAIL);
    EXPECT_EQ(FindFilter(graph.get(), kAudioRendererName), nullptr);
}

}  // namespace
}  // namespace vurma::media
