// readAztecCamera through each component library: frames that must be
// refused safely, the stdout announcement of the 8.1 components, end-to-end
// reads of zint symbols, and concurrent reads through one reader.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "component/camera_frame.h"
#include "component/loaded_component.h"
#include "engine/reader_engine.h"
#include "support/grid_reading.h"

namespace quarrow_test {
namespace {

constexpr std::uint32_t kNoLength = std::numeric_limits<std::uint32_t>::max();

class ReadAztecCamera : public ::testing::TestWithParam<Deliverable> {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib.loaded()) << lib.error();
        RefPtr<IActivationFactory> factory;
        ASSERT_EQ(lib.getActivationFactory(d.readerClass, factory.put()), S_OK);
        RefPtr<IInspectable> instance;
        ASSERT_EQ(factory->ActivateInstance(instance.put()), S_OK);
        ASSERT_EQ(instance->QueryInterface(d.readerIid, reinterpret_cast<void**>(reader.put())), S_OK);
    }

    // One call; the result handle's text, with `hr` receiving the code. A
    // non-null sentinel is passed in so that the call must clear it.
    std::u16string read(std::uint32_t length, const std::uint8_t* frame, std::int32_t width,
                        std::int32_t height, HRESULT* hr = nullptr) {
        HSTRING result = reinterpret_cast<HSTRING>(&sentinel);
        const HRESULT code = reader->readAztecCamera(length, frame, width, height, &result);
        if (hr != nullptr) *hr = code;
        EXPECT_NE(result, reinterpret_cast<HSTRING>(&sentinel)) << "result not set";
        if (result == reinterpret_cast<HSTRING>(&sentinel)) return u"<unset>";
        if (failed(code)) {
            EXPECT_EQ(result, nullptr);
        }
        return takeString(result);
    }
    std::u16string read(const CameraFrame& f, HRESULT* hr = nullptr) {
        return read(static_cast<std::uint32_t>(f.pixels.size()), f.pixels.data(), f.width, f.height, hr);
    }
    // Expects S_OK with the null (empty) handle.
    void expectEmpty(std::uint32_t length, const std::uint8_t* frame, std::int32_t width, std::int32_t height) {
        HSTRING result = reinterpret_cast<HSTRING>(&sentinel);
        EXPECT_EQ(reader->readAztecCamera(length, frame, width, height, &result), S_OK);
        EXPECT_EQ(result, nullptr) << "for " << width << " x " << height << ", " << length << " bytes";
        if (result != reinterpret_cast<HSTRING>(&sentinel)) WindowsDeleteString(result);
    }

    const Deliverable& d = GetParam();
    LoadedComponent lib{d.path};
    RefPtr<IAztecReader> reader;
    int sentinel = 0;
};

std::u16string widen(const std::string& bytes) {
    std::u16string out;
    for (unsigned char b : bytes) out.push_back(static_cast<char16_t>(b));
    return out;
}

TEST_P(ReadAztecCamera, FrameWithoutSymbolGivesEmptyString) {
    const CameraFrame blank = blankFrame(640, 480);
    HRESULT hr = E_FAIL;
    EXPECT_EQ(read(blank, &hr), u"");
    EXPECT_EQ(hr, S_OK);
    expectEmpty(static_cast<std::uint32_t>(blank.pixels.size()), blank.pixels.data(), 640, 480);
}

// A symbol found whose data cannot be corrected (the engine says Located):
// the component answers the empty text with S_OK, as for no symbol.
TEST_P(ReadAztecCamera, EndToEndSpoiltDataGivesEmptyString) {
    ModuleGrid g;
    ASSERT_TRUE(encodeAztec("Located, not read", {.size = 3}, g));
    const CameraFrame f = symbolFrame(spoilData(g));
    std::string message;
    AztecCore::ReaderEngine engine;
    ASSERT_EQ(engine.read(AztecCore::Image::GrayBuf(f.pixels.data(), f.width, f.height), message),
              AztecCore::ReadOutcome::Located) << message;
    HRESULT hr = E_FAIL;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(read(f, &hr), u"");
    EXPECT_EQ(hr, S_OK);
    expectEmpty(static_cast<std::uint32_t>(f.pixels.size()), f.pixels.data(), f.width, f.height);
    ::testing::internal::GetCapturedStdout();
}

TEST_P(ReadAztecCamera, NullResultPointerIsRefused) {
    const CameraFrame blank = blankFrame(8, 8);
    EXPECT_EQ(reader->readAztecCamera(64, blank.pixels.data(), 8, 8, nullptr), E_POINTER);
}

TEST_P(ReadAztecCamera, ZeroSizesGiveEmptyString) {
    const std::uint8_t byte = 0;
    expectEmpty(0, nullptr, 0, 0);
    expectEmpty(1, &byte, 0, 480);
    expectEmpty(1, &byte, 640, 0);
}

TEST_P(ReadAztecCamera, ShortFrameIsRefusedWithoutReadingPastIt) {
    // Exactly as many bytes as the length says; a read beyond them is a
    // heap overflow under the address sanitizer.
    const std::vector<std::uint8_t> bytes(640 * 480 - 1, 255);
    expectEmpty(static_cast<std::uint32_t>(bytes.size()), bytes.data(), 640, 480);
    expectEmpty(0, bytes.data(), 640, 480);
    // A longer frame than needed is fine: only width x height bytes count.
    const std::vector<std::uint8_t> longer(640 * 480 + 100, 255);
    HRESULT hr = E_FAIL;
    EXPECT_EQ(read(static_cast<std::uint32_t>(longer.size()), longer.data(), 640, 480, &hr), u"");
    EXPECT_EQ(hr, S_OK);
}

TEST_P(ReadAztecCamera, NullFrameIsRefused) {
    expectEmpty(640 * 480, nullptr, 640, 480);
    expectEmpty(kNoLength, nullptr, 1, 1);
}

TEST_P(ReadAztecCamera, NegativeSizesAreRefused) {
    const std::vector<std::uint8_t> bytes(64, 255);
    expectEmpty(64, bytes.data(), -8, 8);
    expectEmpty(64, bytes.data(), 8, -8);
    expectEmpty(64, bytes.data(), -8, -8);
    expectEmpty(64, bytes.data(), std::numeric_limits<std::int32_t>::min(), -1);
}

TEST_P(ReadAztecCamera, HugeSizesAreRefusedBeforeAnyCopy) {
    // The length claims more than the 64 real bytes: only the size limit
    // stands between these calls and a read far past the buffer.
    const std::vector<std::uint8_t> bytes(64, 255);
    expectEmpty(kNoLength, bytes.data(), 65536, 65536);  // 2^32: overflows 32 bits
    expectEmpty(kNoLength, bytes.data(), 65537, 65537);
    expectEmpty(kNoLength, bytes.data(), std::numeric_limits<std::int32_t>::max(), 2);
    expectEmpty(kNoLength, bytes.data(), 16385, 16385);   // just over 2^28 pixels
    expectEmpty(kNoLength, bytes.data(), (1 << 28) + 1, 1);
}

TEST_P(ReadAztecCamera, AnnouncesEveryCallOnlyInThe81Components) {
    const CameraFrame blank = blankFrame(64, 48);
    const std::uint8_t byte = 0;
    ::testing::internal::CaptureStdout();
    HSTRING result = nullptr;
    EXPECT_EQ(reader->readAztecCamera(64 * 48, blank.pixels.data(), 64, 48, &result), S_OK);
    WindowsDeleteString(result);
    EXPECT_EQ(reader->readAztecCamera(1, &byte, 0, 0, &result), S_OK);
    WindowsDeleteString(result);
    EXPECT_EQ(reader->readAztecCamera(1, &byte, 8, 8, &result), S_OK);  // refused frame
    WindowsDeleteString(result);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, d.announcesCalls ? "readAztecCamera" "readAztecCamera" "readAztecCamera" : "");
}

// ---- End-to-end reads ----------------------------------------------------
// These need the symbol detector (src/detect). Until it locates symbols,
// every read returns the empty string and these tests fail.

TEST_P(ReadAztecCamera, EndToEndReadsPrintableText) {
    const std::string data = "Quarrow reads Aztec 0123456789";
    const CameraFrame frame = symbolFrame(data);
    HRESULT hr = E_FAIL;
    EXPECT_EQ(read(frame, &hr), widen(data)) << "end-to-end read: needs the symbol detector";
    EXPECT_EQ(hr, S_OK);
    // The same frame again gives the same string.
    EXPECT_EQ(read(frame), widen(data)) << "end-to-end read: needs the symbol detector";
}

TEST_P(ReadAztecCamera, EndToEndKeepsZeroBytesAndHighBytes) {
    // Every byte comes back as one code unit of the same value: a 0 byte
    // does not cut the string, and 0x80..0xFF map as ISO-8859-1.
    const std::string data("A\0B\x80\xE9\xFF\x7F" "z\0", 9);
    const CameraFrame frame = symbolFrame(data);
    const std::u16string text = read(frame);
    ASSERT_EQ(text.size(), 9u) << "end-to-end read: needs the symbol detector";
    EXPECT_EQ(text, (std::u16string{u'A', 0, u'B', 0x80, 0xE9, 0xFF, 0x7F, u'z', 0}));
}

TEST_P(ReadAztecCamera, EndToEndDataStartingWithZeroByte) {
    const std::string data("\0\0abc", 5);
    EXPECT_EQ(read(symbolFrame(data)), widen(data)) << "end-to-end read: needs the symbol detector";
}

// ---- Concurrency ---------------------------------------------------------

// Frames with different symbols (and one without).
const std::vector<std::string>& concurrentData() {
    static const std::vector<std::string> data = {"first thread", std::string("sec\0nd\xF0", 7), "THIRD 333", ""};
    return data;
}

struct ConcurrentRun {
    std::vector<std::vector<std::u16string>> results;  // [frame][round]
    std::vector<std::vector<HRESULT>> codes;
    std::string output;                                 // what the calls wrote to stdout
};

// One thread per frame, each reading its frame `rounds` times through the
// one shared reader.
ConcurrentRun readConcurrently(IAztecReader* reader, const std::vector<CameraFrame>& frames, int rounds) {
    ConcurrentRun run;
    run.results.resize(frames.size());
    run.codes.resize(frames.size());
    ::testing::internal::CaptureStdout();
    {
        std::vector<std::jthread> threads;
        for (std::size_t t = 0; t < frames.size(); ++t) {
            threads.emplace_back([&, t] {
                const CameraFrame& f = frames[t];
                for (int round = 0; round < rounds; ++round) {
                    HSTRING result = nullptr;
                    run.codes[t].push_back(reader->readAztecCamera(static_cast<std::uint32_t>(f.pixels.size()),
                                                                   f.pixels.data(), f.width, f.height, &result));
                    run.results[t].push_back(takeString(result));
                }
            });
        }
    }
    run.output = ::testing::internal::GetCapturedStdout();
    return run;
}

std::vector<CameraFrame> concurrentFrames() {
    std::vector<CameraFrame> frames;
    for (const std::string& s : concurrentData()) frames.push_back(s.empty() ? blankFrame(640, 480) : symbolFrame(s));
    return frames;
}

constexpr int kRounds = 3;

// Each concurrent result is the one a lone read of the same frame gives.
TEST_P(ReadAztecCamera, ConcurrentReadsThroughOneReaderMatchSequentialReads) {
    const std::vector<CameraFrame> frames = concurrentFrames();
    std::vector<std::u16string> sequential;
    ::testing::internal::CaptureStdout();
    for (const CameraFrame& f : frames) sequential.push_back(read(f));
    ::testing::internal::GetCapturedStdout();

    const ConcurrentRun run = readConcurrently(reader.get(), frames, kRounds);
    const std::size_t calls = frames.size() * kRounds;
    EXPECT_EQ(run.output.size(), d.announcesCalls ? calls * std::string("readAztecCamera").size() : 0u);
    for (std::size_t t = 0; t < frames.size(); ++t) {
        for (int round = 0; round < kRounds; ++round) {
            EXPECT_EQ(run.codes[t][static_cast<std::size_t>(round)], S_OK);
            EXPECT_EQ(run.results[t][static_cast<std::size_t>(round)], sequential[t]) << "frame " << t;
        }
    }
}

// The same, against the symbols' own data (needs the symbol detector).
TEST_P(ReadAztecCamera, EndToEndConcurrentReadsGiveEachFramesData) {
    const std::vector<CameraFrame> frames = concurrentFrames();
    const ConcurrentRun run = readConcurrently(reader.get(), frames, kRounds);
    for (std::size_t t = 0; t < frames.size(); ++t) {
        for (int round = 0; round < kRounds; ++round) {
            EXPECT_EQ(run.results[t][static_cast<std::size_t>(round)], widen(concurrentData()[t]))
                << "frame " << t << ": end-to-end read, needs the symbol detector";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Deliverables, ReadAztecCamera, ::testing::Values(windows10(), windows81(), wp81()),
                         [](const ::testing::TestParamInfo<Deliverable>& info) { return info.param.label; });

}  // namespace
}  // namespace quarrow_test
