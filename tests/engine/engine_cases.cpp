#include "engine/engine_cases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "decode/mode_message.h"
#include "image/gray_buf.h"
#include "support/grid_reading.h"

namespace quarrow_test {

namespace {

// The compact 4-layer symbols of libzint 2.11.1 carry a wrong data-word
// count when they need more than 64 data words (the 6-bit field wraps, so
// the count read back looks plausible). Their content is kept well below:
// at most this many payload bits.
constexpr double kZintCompactPayloadBits = 440.0;

struct FrameSize {
    int width;
    int height;
};
constexpr FrameSize kFrameSizes[] = {{640, 480}, {800, 600}, {1280, 720}, {1920, 1080}};
constexpr int kFrameSizeCount = static_cast<int>(sizeof kFrameSizes / sizeof kFrameSizes[0]);

// Content kinds and the bits one character roughly costs in the symbol.
enum ContentKind { kUpper, kMixed, kDigits, kBinary, kContentKinds };
constexpr double kBitsPerChar[kContentKinds] = {5.2, 7.0, 3.5, 8.2};

std::string makeContent(ContentKind kind, std::size_t length, std::mt19937& rng) {
    static const std::string upper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ  0123456789";
    static const std::string mixed =
        "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789 .,:;!?-+/()[]@#$%&*=<>\"'\r\n";
    std::string s;
    s.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        switch (kind) {
            case kUpper: s.push_back(upper[rng() % upper.size()]); break;
            case kMixed: s.push_back(mixed[rng() % mixed.size()]); break;
            case kDigits: s.push_back(static_cast<char>('0' + rng() % 10)); break;
            default: s.push_back(static_cast<char>(rng() % 256)); break;
        }
    }
    return s;
}

const Aztec::LayerInfo& layerInfoOfSize(int size) {
    return size <= kCompactSizes ? Aztec::compactLayerInfo(size) : Aztec::fullRangeLayerInfo(size - kCompactSizes);
}

// The mode message of a grid as drawn, or false.
bool modeOf(const ModuleGrid& g, AztecCore::SymbolCandidate& cand) {
    cand = {};
    cand.type = bullseyeType(g);
    return Aztec::decodeModeMessage(cand, ringBits(g, cand.type));
}

}  // namespace

bool quickRun() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#else
    const char* env = std::getenv("QUARROW_QUICK");
    return env != nullptr && *env != '\0' && std::string(env) != "0";
#endif
}

std::vector<int> sizesToTest() {
    std::vector<int> sizes;
    const int stride = quickRun() ? kQuickStride : 1;
    for (int s = kFirstSize; s <= kLastSize; s += stride) sizes.push_back(s);
    if (sizes.back() != kLastSize) sizes.push_back(kLastSize);
    return sizes;
}

SymbolCase makeCase(int size, int variant) {
    SymbolCase sc;
    sc.size = size;
    char label[16];
    std::snprintf(label, sizeof label, "%c%d", size <= kCompactSizes ? 'C' : 'F',
                  size <= kCompactSizes ? size : size - kCompactSizes);
    sc.label = label;
    std::mt19937 rng(static_cast<std::uint32_t>(size * 1000 + variant));
    const auto kind = static_cast<ContentKind>(((variant % kContentKinds) + kContentKinds) % kContentKinds);
    const Aztec::LayerInfo& info = layerInfoOfSize(size);
    const double fill = 0.3 + 0.1 * (static_cast<unsigned>(variant) % 5);
    auto length = static_cast<std::size_t>(info.totalWords * info.wordBits * fill / kBitsPerChar[kind]);
    if (size == kCompactSizes)
        length = std::min(length, static_cast<std::size_t>(kZintCompactPayloadBits / kBitsPerChar[kind]));
    length = std::max<std::size_t>(length, 1);
    std::string content = makeContent(kind, length, rng);
    for (;;) {
        AztecCore::SymbolCandidate cand;
        // A data-word count too small for the content is one that libzint
        // wrapped (compact 4-layer symbols of more than 64 data words): such
        // a symbol is invalid, so the content is shortened instead.
        if (encodeAztec(content, {.size = size}, sc.grid) && modeOf(sc.grid, cand) &&
            cand.dataWords * cand.wordBits >= static_cast<int>(content.size()) * 3) {
            break;
        }
        if (content.size() <= 1) {
            ADD_FAILURE() << "libzint cannot make a symbol of size " << size;
            break;
        }
        content.resize(content.size() * 9 / 10);
    }
    sc.data = content;
    return sc;
}

std::string expectedDescription(const ModuleGrid& drawn) {
    AztecCore::SymbolCandidate cand;
    if (!modeOf(drawn, cand)) return {};
    const bool compact = cand.type == AztecCore::SymbolType::Compact;
    const Aztec::LayerInfo& info =
        compact ? Aztec::compactLayerInfo(cand.layers) : Aztec::fullRangeLayerInfo(cand.layers);
    static const char* const kTurns[] = {"0'", "90'", "180'", "270'"};
    const int checkShare = (info.totalWords - cand.dataWords) * 100 / info.totalWords;
    return std::string("(") + (compact ? "C" : "F") + " " + kTurns[cand.rotation & 3] + (cand.mirrored ? "M" : "") +
           " L: " + std::to_string(cand.layers) + " D: " + std::to_string(cand.dataWords * info.wordBits) +
           " ECC: " + std::to_string(checkShare) + "%)";
}

void placeSymbol(RenderOptions& o, int gridSize, int preferredFrame, double wantModule, double spread, double margin) {
    const double extent = (gridSize + 2.0 * o.quietZone) * spread;
    for (int f = std::clamp(preferredFrame, 0, kFrameSizeCount - 1); f < kFrameSizeCount; ++f) {
        o.width = kFrameSizes[f].width;
        o.height = kFrameSizes[f].height;
        const double room = std::min(o.width, o.height) - 2.0 * margin;
        o.moduleSize = std::min(wantModule, room / extent);
        if (o.moduleSize >= kMinModule) return;
    }
    o.moduleSize = kMinModule;  // the largest frame; the symbol may be clipped
}

ReadResult readFrame(const Frame& frame) {
    ReadResult r;
    AztecCore::ReaderEngine engine;
    const AztecCore::Image::GrayBuf image(frame.pixels.data(), frame.width, frame.height);
    try {
        r.outcome = engine.read(image, r.message);
        r.bytes.assign(engine.data().begin(), engine.data().end());
    } catch (const std::exception& e) {
        r.threw = true;
        r.what = e.what();
    } catch (...) {
        // The geometry's own exception types are not standard exceptions.
        r.threw = true;
        r.what = "non-standard exception";
    }
    return r;
}

void Tally::print() const {
    std::printf("[ rates    ] %-12s read %3d of %3d (%5.1f%%), wrong %d, exceptions %d\n", category.c_str(), read,
                frames, 100.0 * rate(), wrong, threw);
    std::fflush(stdout);
    ::testing::Test::RecordProperty(category + "_frames", frames);
    ::testing::Test::RecordProperty(category + "_read", read);
    ::testing::Test::RecordProperty(category + "_wrong", wrong);
}

ReadResult checkFrame(const SymbolCase& sc, const Frame& frame, const std::string& expectedDesc, bool exactRotation,
                      Tally& tally, const std::string& where) {
    ReadResult r = readFrame(frame);
    ++tally.frames;
    if (r.threw) ++tally.threw;
    if (r.outcome != AztecCore::ReadOutcome::Read) {
        EXPECT_TRUE(r.bytes.empty()) << where << ": bytes kept without a Read";
        return r;
    }
    if (r.bytes != sc.data) {
        ++tally.wrong;
        ADD_FAILURE() << where << ": WRONG BYTES (" << r.bytes.size() << " bytes, want " << sc.data.size()
                      << "), message " << r.message;
        return r;
    }
    ++tally.read;
    // "Read data " D "\n #err=" count.
    const std::string head = "Read data ";
    const std::size_t lf = r.message.find('\n');
    EXPECT_EQ(r.message.rfind(head, 0), 0u) << where << ": " << r.message;
    EXPECT_NE(lf, std::string::npos) << where << ": " << r.message;
    if (lf == std::string::npos || lf < head.size()) return r;
    EXPECT_EQ(r.message.compare(lf, 7, "\n #err="), 0) << where << ": " << r.message;
    std::string got = r.message.substr(head.size(), lf - head.size());
    std::string want = expectedDesc;
    if (!exactRotation) {
        // Drop the rotation text: "(F 90'M L: ..." -> "(F M L: ...".
        auto dropTurn = [](std::string& d) {
            const std::size_t a = d.find(' '), b = d.find('\'');
            if (a != std::string::npos && b != std::string::npos && b > a) d.erase(a + 1, b - a);
        };
        dropTurn(got);
        dropTurn(want);
    }
    EXPECT_EQ(got, want) << where;
    return r;
}

}  // namespace quarrow_test
