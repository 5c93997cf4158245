// Reads from several threads at once through every front end in one
// process (C++, C, one shared runtime-component reader), each answer
// compared with the same frame's answer read alone. Under ThreadSanitizer
// (make tsan) this also proves that reads share no unguarded state; the
// messages include each read's own "#err=" count.
#include <gtest/gtest.h>

#include <quarrow/quarrow.h>
#include <quarrow/quarrow.hpp>

#include <string>
#include <thread>
#include <vector>

#include "component/loaded_component.h"
#include "support/frame_renderer.h"
#include "support/zint_symbol.h"

namespace quarrow_test {
namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 3;

struct Answer {
    int outcome = -1;
    std::string bytes;
    std::string message;
    bool operator==(const Answer&) const = default;
};

void PrintTo(const Answer& a, std::ostream* os) { *os << a.outcome << " \"" << a.bytes << "\" " << a.message; }

std::vector<Frame> testFrames() {
    std::vector<Frame> frames;
    RenderOptions ro;
    ro.width = 200;
    ro.height = 180;
    ro.moduleSize = 3.0;
    ro.supersample = 2;
    const std::pair<const char*, int> symbols[] = {{"first frame", 0}, {"Second, longer frame 0123456789", 0},
                                                   {"full range", 5}};
    for (const auto& [text, size] : symbols) {
        ModuleGrid g;
        EXPECT_TRUE(encodeAztec(text, {.size = size}, g));
        ro.rotationDeg += 37;
        // Each symbol needs some corrections, so that the counts differ.
        for (int i = 0; i < size + 2; ++i) {
            std::vector<bool>& row = g.modules[static_cast<std::size_t>(i)];
            row[static_cast<std::size_t>(g.size - 1 - i)] = !row[static_cast<std::size_t>(g.size - 1 - i)];
        }
        frames.push_back(renderSymbol(g, ro));
    }
    frames.push_back(noiseFrame(160, 120, 128, 40, 3));
    return frames;
}

Answer readCpp(const Frame& f) {
    quarrow::ReadOptions o;
    o.search = quarrow::Search::Centre;
    const quarrow::ReadResult r = quarrow::read(f.pixels.data(), f.width, f.height, 0, o);
    return {static_cast<int>(r.outcome), std::string(r.bytes.begin(), r.bytes.end()), r.message};
}

Answer readC(const Frame& f) {
    quarrow_result* r = quarrow_read_buffer(f.pixels.data(), f.pixels.size(), f.width, f.height, 0);
    if (r == nullptr) return {};
    std::size_t n = 0;
    const std::uint8_t* b = quarrow_result_bytes(r, &n);
    Answer a{static_cast<int>(quarrow_result_outcome(r)), std::string(b, b + n), quarrow_result_message(r)};
    quarrow_result_free(r);
    return a;
}

class Component {
public:
    Component() {
        RefPtr<IActivationFactory> factory;
        if (!lib_.loaded() || lib_.getActivationFactory(windows10().readerClass, factory.put()) != S_OK) return;
        RefPtr<IInspectable> instance;
        if (factory->ActivateInstance(instance.put()) != S_OK) return;
        instance->QueryInterface(windows10().readerIid, reinterpret_cast<void**>(reader_.put()));
    }
    bool ready() const { return static_cast<bool>(reader_); }
    // The component answers with the text only.
    Answer read(const Frame& f) const {
        HSTRING s = nullptr;
        const HRESULT hr = reader_->readAztecCamera(static_cast<std::uint32_t>(f.pixels.size()), f.pixels.data(),
                                                    f.width, f.height, &s);
        const std::u16string text = takeString(s);
        return {static_cast<int>(hr), std::string(text.begin(), text.end()), ""};
    }

private:
    LoadedComponent lib_{windows10().path};
    RefPtr<IAztecReader> reader_;
};

TEST(Concurrency, EveryFrontEndReadsAsItDoesAlone) {
    const std::vector<Frame> frames = testFrames();
    Component component;
    ASSERT_TRUE(component.ready());
    enum { kCpp, kC, kComponent, kFrontEnds };
    auto readWith = [&](int frontEnd, const Frame& f) {
        return frontEnd == kCpp ? readCpp(f) : frontEnd == kC ? readC(f) : component.read(f);
    };
    std::vector<std::vector<Answer>> alone(kFrontEnds);
    for (int e = 0; e < kFrontEnds; ++e)
        for (const Frame& f : frames) alone[static_cast<std::size_t>(e)].push_back(readWith(e, f));
    // The frames are worth comparing: three reads with corrections, one
    // without a symbol, and the front ends agree on the bytes.
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(alone[kCpp][i].outcome, static_cast<int>(quarrow::Outcome::Read)) << i;
        EXPECT_EQ(alone[kC][i].bytes, alone[kCpp][i].bytes);
        EXPECT_EQ(alone[kComponent][i].bytes, alone[kCpp][i].bytes);
    }
    EXPECT_EQ(alone[kCpp][3].outcome, static_cast<int>(quarrow::Outcome::NotLocated));

    // Thread t at step s reads frame (t + s) with front end (t + s / frames):
    // every pairing runs while other threads read other frames elsewhere.
    std::vector<std::vector<Answer>> got(kThreads);
    std::vector<std::thread> threads;
    const int steps = kRounds * kFrontEnds * static_cast<int>(frames.size());
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int s = 0; s < steps; ++s) {
                const int frame = (t + s) % static_cast<int>(frames.size());
                const int frontEnd = (t + s / static_cast<int>(frames.size())) % kFrontEnds;
                got[static_cast<std::size_t>(t)].push_back(readWith(frontEnd, frames[static_cast<std::size_t>(frame)]));
            }
        });
    }
    for (std::thread& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) {
        for (int s = 0; s < steps; ++s) {
            const int frame = (t + s) % static_cast<int>(frames.size());
            const int frontEnd = (t + s / static_cast<int>(frames.size())) % kFrontEnds;
            EXPECT_EQ(got[static_cast<std::size_t>(t)][static_cast<std::size_t>(s)],
                      alone[static_cast<std::size_t>(frontEnd)][static_cast<std::size_t>(frame)])
                << "thread " << t << " step " << s << " front end " << frontEnd << " frame " << frame;
        }
    }
}

}  // namespace
}  // namespace quarrow_test
