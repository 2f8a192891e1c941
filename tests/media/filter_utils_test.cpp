// The searches that rewire a rendered graph, on the scriptable engine. Their
// diagnostics, the pin, media-type and filter searches are checked where
// the session uses them.
#include "media/filter_utils.h"

#include <gtest/gtest.h>

#include "fake_engine.h"
#include "test_support.h"

namespace vurma::media {
namespace {

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
