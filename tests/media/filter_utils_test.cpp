// The searches that rewire a rendered graph, on the scriptable engine. Their
// diagnostics, the media-type and filter searches are checked where the
// session uses them.
#include "media/filter_utils.h"

#include <gtest/gtest.h>

#include "media/fake_engine.h"
#include "test_support.h"

namespace vurma::media {
namespace {

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

}  // namespace
}  // namespace vurma::media
