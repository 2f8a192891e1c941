// The streamed whole-file decode on the scripted engine: this thread plays
// the streaming thread, feeding buffers once the decode has started.
#include "media/pcm_stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "fake_engine.h"
#include "test_support.h"

namespace vurma::media {
namespace {

constexpr char kMedia[] = "/media/stereo.wav";

class PcmStreamTest : public ::testing::Test {
  protected:
    PcmStreamTest() {
        FakeFile file;
        file.format = {2, 16, 8000};
        file.duration = 10000000;  // 1 s
        engine->AddFile(kMedia, file);
    }

    // Streams the file on a worker thread; `feed` runs here once the
    // decode has started (it is not run when the decode never starts).
    PcmEnd Stream(const std::function<void()>& feed,
                  std::chrono::milliseconds stall = std::chrono::milliseconds(5000)) {
        std::atomic<bool> finished{false};
        PcmEnd end = PcmEnd::Running;
        std::thread worker([&] {
            end = StreamWholeFile(
                engine, path, &loaded, [](const LoadedMedia&) { return true; },
                [this](const PcmChunk& chunk) {
                    chunks.push_back(chunk.firstFrame);
                    bytes.insert(bytes.end(), chunk.data, chunk.data + 4 * chunk.frames);
                    return bytes.size() < cancelAfterBytes;
                },
                stall);
            finished.store(true);
        });
        const auto running = [&] {
            const std::shared_ptr<FakeAudioDecode> d = engine->decode();
            return d != nullptr && d->running();
        };
        while (!running() && !finished.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!finished.load()) feed();
        worker.join();
        return end;
    }

    std::shared_ptr<FakeEngine> engine = std::make_shared<FakeEngine>();
    std::string path = kMedia;
    LoadedMedia loaded;
    std::vector<std::uint64_t> chunks;  // first frame of each chunk
    std::vector<std::uint8_t> bytes;
    std::size_t cancelAfterBytes = SIZE_MAX;
    test::ReportRecorder reports;
};

std::vector<std::uint8_t> Bytes(std::size_t count, std::uint8_t first) {
    std::vector<std::uint8_t> v(count);
    for (std::size_t i = 0; i < count; ++i) v[i] = static_cast<std::uint8_t>(first + i);
    return v;
}

// Buffers cut inside frames arrive as whole frames in order; preroll, a
// discontinuity and a buffer that goes back in time are dropped, as the
// capture drops them.
TEST_F(PcmStreamTest, BuffersArriveInWholeFramesInFileOrder) {
    const std::vector<std::uint8_t> a = Bytes(10, 0), b = Bytes(7, 10), c = Bytes(3, 17);
    const PcmEnd end = Stream([&] {
        EXPECT_TRUE(engine->FeedSample(0.0, Bytes(8, 200), /*preroll=*/true));
        EXPECT_TRUE(engine->FeedSample(0.1, a));  // 2.5 frames
        EXPECT_TRUE(engine->FeedSample(0.2, b));  // completes the third, 1.25 more
        EXPECT_TRUE(engine->FeedSample(0.3, Bytes(8, 99), false, /*discontinuity=*/true));
        EXPECT_TRUE(engine->FeedSample(0.2, Bytes(8, 99)));  // not later than the last
        EXPECT_TRUE(engine->FeedSample(0.4, c));
        EXPECT_TRUE(engine->EndCapture(S_OK));
    });
    EXPECT_EQ(end, PcmEnd::Complete);
    EXPECT_EQ(loaded.channels, 2);
    EXPECT_EQ(loaded.sampleRate, 8000);
    EXPECT_EQ(bytes, Bytes(20, 0));
    EXPECT_EQ(chunks, (std::vector<std::uint64_t>{0, 2, 3, 4}));
    EXPECT_TRUE(reports.texts.empty());
}

// Each way a run ends, and what the consumer sees then.
TEST_F(PcmStreamTest, EveryEndIsReturnedAndNothingArrivesAfterIt) {
    // The consumer gives up: the rest of the file is not decoded.
    cancelAfterBytes = 8;
    EXPECT_EQ(Stream([&] {
                  engine->FeedSample(0.0, Bytes(8, 0));
                  engine->FeedSample(0.1, Bytes(8, 8));  // ignored: the consumer said stop
              }),
              PcmEnd::Cancelled);
    EXPECT_EQ(bytes, Bytes(8, 0));
    EXPECT_FALSE(engine->FeedSample(0.2, Bytes(8, 0)));  // the decode is gone

    // A decoder error.
    cancelAfterBytes = SIZE_MAX;
    bytes.clear();
    EXPECT_EQ(Stream([&] {
                  engine->FeedSample(0.0, Bytes(8, 0));
                  engine->EndCapture(E_FAIL);
              }),
              PcmEnd::Failed);

    // No progress: one fresh decode while nothing was delivered, then stalled.
    engine->ClearCalls();
    EXPECT_EQ(Stream([] {}, std::chrono::milliseconds(100)), PcmEnd::Stalled);
    EXPECT_EQ(engine->CallCount("Decode.Start"), 2);
    // Stalled after data arrived: no second decode (it would repeat frames).
    engine->ClearCalls();
    EXPECT_EQ(Stream([&] { engine->FeedSample(0.0, Bytes(8, 0)); }, std::chrono::milliseconds(100)),
              PcmEnd::Stalled);
    EXPECT_EQ(engine->CallCount("Decode.Start"), 1);

    // The decode cannot start.
    engine->FailCall("Decode.Start", E_FAIL);
    EXPECT_EQ(Stream([] {}), PcmEnd::Failed);
    EXPECT_TRUE(reports.texts.empty());  // none of these is reported here

    // A file the load refuses is reported by the load.
    path = "/media/missing.wav";
    EXPECT_EQ(Stream([] {}), PcmEnd::Refused);
    EXPECT_FALSE(reports.texts.empty());
}

TEST_F(PcmStreamTest, BeginSeesTheFormatAndMayDecline) {
    bool decoded = false;
    const PcmEnd end = StreamWholeFile(
        engine, kMedia, &loaded,
        [](const LoadedMedia& l) { return l.channels == 1; },  // wants mono only
        [&](const PcmChunk&) { return decoded = true; });
    EXPECT_EQ(end, PcmEnd::Cancelled);
    EXPECT_EQ(engine->CallCount("Decode.Start"), 0);
    EXPECT_FALSE(decoded);
}

// Stop from the controlling thread while buffers still arrive.
TEST_F(PcmStreamTest, StopEndsTheRunAndFreesTheDecode) {
    PcmStream stream(engine);
    ASSERT_EQ(stream.Open(kMedia, &loaded), S_OK);
    EXPECT_EQ(stream.format().channels, 2);
    std::atomic<std::uint64_t> frames{0};
    ASSERT_EQ(stream.Start([&](const PcmChunk& c) {
        frames += c.frames;
        return true;
    }),
              S_OK);
    std::thread feeder([&] {
        for (int i = 0; i < 50 && engine->FeedSample(i * 0.01, Bytes(40, 0)); ++i) {
        }
    });
    feeder.join();
    EXPECT_EQ(stream.framesDelivered(), frames.load());
    stream.Stop();
    EXPECT_EQ(stream.Wait(), PcmEnd::Stopped);
    EXPECT_EQ(engine->decode(), nullptr);  // nothing more can reach the consumer
}

}  // namespace
}  // namespace vurma::media
