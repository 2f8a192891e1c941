// The stored format is read from the file, not from the converted capture:
// float and companded WAV files say so, lossy codecs have no sample format.
#include "media/stored_format.h"

#include <gtest/gtest.h>

#include <fstream>

#include "test_media.h"
#include "test_support.h"

namespace vurma::media {
namespace {

TEST(StoredFormat, ReadFromTheFileBeforeDecoding) {
    test::ScratchDir dir("stored");
    const std::string src = "audiotestsrc num-buffers=20 ! audio/x-raw,rate=44100,channels=2";
    struct Case {
        const char* name;
        std::string pipeline;  // up to the file sink
        StoredFormat want;
    };
    const Case cases[] = {
        {"s16.wav", src + ",format=S16LE ! wavenc", {"PCM", true, "s16", 16}},
        {"s24.wav", src + ",format=S24LE ! wavenc", {"PCM", true, "s24", 24}},
        {"f32.wav", src + ",format=F32LE ! wavenc", {"PCM", true, "f32", 32}},
        {"f64.wav", src + ",format=F64LE ! wavenc", {"PCM", true, "f64", 64}},
        {"u8.wav", src + ",format=U8 ! wavenc", {"PCM", true, "u8", 8}},
        {"mulaw.wav", src + ",format=S16LE ! mulawenc ! wavenc", {"PCM", true, "mulaw", 8}},
        {"alaw.wav", src + ",format=S16LE ! alawenc ! wavenc", {"PCM", true, "alaw", 8}},
        {"a.flac", src + ",format=S16LE ! flacenc", {"FLAC", true, "s16", 16}},
        {"a.mp3", src + " ! lamemp3enc", {"MPEG-1 Layer 3", false, "", 0}},
        {"a.ogg", src + " ! vorbisenc ! oggmux", {"Vorbis", false, "", 0}},
        {"a.opus",
         "audiotestsrc num-buffers=20 ! audio/x-raw,rate=48000 ! opusenc ! oggmux",
         {"Opus", false, "", 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        ASSERT_TRUE(test::GstLaunch(c.pipeline + " ! filesink location=" + path));
        StoredFormat f;
        ASSERT_TRUE(ProbeStoredFormat(path, &f));
        EXPECT_EQ(f.codec, c.want.codec);
        EXPECT_EQ(f.lossless, c.want.lossless);
        EXPECT_EQ(f.sampleFormat, c.want.sampleFormat);
        EXPECT_EQ(f.bits, c.want.bits);
    }
    StoredFormat untouched{"x", true, "y", 1};
    EXPECT_FALSE(ProbeStoredFormat(dir / "missing.wav", &untouched));
    std::ofstream(dir / "text.wav") << "not a media file";
    EXPECT_FALSE(ProbeStoredFormat(dir / "text.wav", &untouched));
    EXPECT_EQ(untouched.codec, "x");
    EXPECT_EQ(StoredFormatFromCaps("audio/mpeg, mpegversion=(int)4", 0).codec, "AAC");
    EXPECT_EQ(StoredFormatFromCaps("video/x-raw", 0).codec, "");
}

}  // namespace
}  // namespace vurma::media
