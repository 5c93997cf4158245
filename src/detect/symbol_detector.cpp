// The detector's state, the seed spiral round the frame centre, the
// per-seed attempt and the perspective module sampler. The stages live in
// blob_fill.cpp, bullseye.cpp, mode_ring.cpp and data_grid.cpp.
#include "detect/symbol_detector.h"

#include <algorithm>

#include "decode/data_codewords.h"
#include "decode/reed_solomon.h"

namespace AztecCore {

namespace {
// The seed spiral: the centre, then square rings 24 and 48 pixels out with
// a seed every 24 pixels (1 + 8 + 16 seeds).
constexpr std::int32_t kSeedStep = 24;
constexpr std::int32_t kSeedRings = 2;
// Scale factors for the mode ring, tried in this order.
constexpr double kRingScales[] = {1.0, 1.1, 0.9};
constexpr double kCoarseSpread = 0.25;
constexpr double kFineSpread = 0.1;
struct CompactRetry {
    bool affine;
    double scale;
};
constexpr CompactRetry kCompactRetries[] = {{true, 1.0},   {true, 1.01},  {true, 0.99},  {true, 1.02},
                                            {true, 0.98},  {false, 1.01}, {false, 0.99}, {false, 1.02},
                                            {false, 0.98}};
// The compact bull's-eye corners lie on its light ring, 3 modules out.
constexpr int kCompactCornerRing = 3;
// A seed's second, wider window: half the frame's shorter side, at most
// twice per search.
constexpr std::int32_t kWideWindowDivisor = 2;
constexpr int kMaxWideRetries = 2;
// Share of the symbol that must lie in the frame before it is sampled.
constexpr double kMinInsideShare = 0.4;
// The modern front ends' bound on corrections (decodeSampled): one read in
// 100,000 of damage beyond repair may come back wrong.
constexpr double kMaxLog10RandomDecode = -5.0;
}  // namespace

namespace {
// A working image left by a detector that has ended, all zeros again, for
// the next detector on the same thread. An engine made for every frame (as
// the runtime component reads) then neither allocates nor zero-fills a
// frame-sized image per read, nor takes its page faults. One per thread,
// released when the thread ends.
//
// Thread-local objects die in the reverse order of their construction, so
// an engine kept per thread (the free functions' engine) can end after the
// spare: its detector must then not hand its image back. `spareGone` has no
// destructor and so stays readable until the thread's storage goes.
thread_local bool spareGone = false;
struct SpareWork {
    std::shared_ptr<Image::GrayBuf> image;
    ~SpareWork() { spareGone = true; }
};
thread_local SpareWork spareWork;
}  // namespace

SymbolDetector::SymbolDetector() = default;

SymbolDetector::~SymbolDetector() {
    // Only an image that nothing else holds (tests may keep one).
    if (!work_ || work_.use_count() != 1 || spareGone) return;
    startImage();  // back to zeros
    std::shared_ptr<Image::GrayBuf>& spare = spareWork.image;
    if (!spare || spare->plane.pixels.size() < work_->plane.pixels.size()) spare = std::move(work_);
}

std::shared_ptr<Image::GrayBuf> SymbolDetector::takeWorkImage() {
    if (!spareGone && spareWork.image) return std::move(spareWork.image);
    return std::make_shared<Image::GrayBuf>();
}

void SymbolDetector::setImage(const Image::GrayBuf& image) {
    owned_ = std::make_unique<Image::GrayBuf>(image);
    image_ = {owned_->plane.pixels.data(), owned_->width(), owned_->height(), owned_->plane.stride};
    startImage();
}

void SymbolDetector::borrowImage(const Image::ImageView& view) {
    owned_.reset();
    image_ = view;
    startImage();
}

void SymbolDetector::releaseImage() {
    owned_.reset();
    image_ = {};
}

void SymbolDetector::startImage() {
    // Every seed's window lies inside the image, and so does every mark, so
    // clearing the box they spanned brings the working image back to zeros.
    if (work_ && touchX1_ > touchX0_ && touchY1_ > touchY0_) {
        const auto stride = static_cast<std::size_t>(work_->plane.stride);
        for (std::int32_t y = touchY0_; y < touchY1_; ++y) {
            std::uint8_t* row = work_->plane.pixels.data() + stride * static_cast<std::size_t>(y);
            std::fill(row + touchX0_, row + touchX1_, std::uint8_t{0});
        }
    }
    touchX0_ = touchY0_ = touchX1_ = touchY1_ = 0;
}

CandidateList SymbolDetector::findCandidates() {
    CandidateList list;
    findCandidates(list);
    return list;
}

void SymbolDetector::findCandidates(CandidateList& list) {
    if (list.size() == 1 && list.front()) {
        *list.front() = SymbolCandidate{};
    } else {
        list.clear();
        list.push_back(std::make_unique<SymbolCandidate>());
    }
    if (image_.pixels) list.front()->centre = {image_.width * 0.5, image_.height * 0.5};
}

bool SymbolDetector::locate(SymbolCandidate& cand) {
    // An empty image has no working image to test; nothing can be found.
    if (image_.empty()) return false;
    wideRetries_ = 0;
    const std::int32_t cx = image_.width / 2;
    const std::int32_t cy = image_.height / 2;
    if (attemptSeed(cand, cx, cy)) return true;
    for (std::int32_t ring = 1; ring <= kSeedRings; ++ring) {
        const std::int32_t d = ring * kSeedStep;
        const std::int32_t run = 2 * d / kSeedStep;
        // Four runs, each from a corner up to one step before the next.
        for (std::int32_t i = 0; i < run; ++i)
            if (attemptSeed(cand, cx - d + i * kSeedStep, cy - d)) return true;  // top, rightwards
        for (std::int32_t i = 0; i < run; ++i)
            if (attemptSeed(cand, cx + d - i * kSeedStep, cy + d)) return true;  // bottom, leftwards
        for (std::int32_t i = 0; i < run; ++i)
            if (attemptSeed(cand, cx + d, cy - d + i * kSeedStep)) return true;  // right, downwards
        for (std::int32_t i = 0; i < run; ++i)
            if (attemptSeed(cand, cx - d, cy + d - i * kSeedStep)) return true;  // left, upwards
    }
    return false;
}

bool SymbolDetector::attemptSeed(SymbolCandidate& cand, std::int32_t x, std::int32_t y) {
    const std::int32_t w = image_.width, h = image_.height;
    const std::int32_t r = seedRadius();
    windowOutrun_ = false;
    bool found = attemptSeedIn(cand, x, y, r);
    if (trace_) {
        trace_->seeds.push_back({x, y});
        trace_->blobCentres.push_back(cand.centre);
    }
    // Very large modules: the bull's-eye's rings reach past the seed's
    // window, so its test judged pixels that this seed never quantised
    // (zeros, or what earlier seeds left). Try the seed once more with a
    // window of half the frame, unless the seed's own blob already ran into
    // the window's edge (flat content, where a wider window only costs).
    // A read from the first attempt is kept when the wider one fails.
    const std::int32_t wide = std::min(w - 1, h - 1) / kWideWindowDivisor;
    if (!windowOutrun_ || blobReachedEdge_ || wide <= r || wideRetries_ >= kMaxWideRetries) return found;
    ++wideRetries_;
    const SymbolCandidate first = cand;
    const Aztec::Math::Homography firstHomography = homography_;
    Point2d firstCorners[4];
    std::copy(symbolCorners_, symbolCorners_ + 4, firstCorners);
    if (attemptSeedIn(cand, x, y, wide)) return true;
    if (found) {
        cand = first;
        homography_ = firstHomography;
        std::copy(firstCorners, firstCorners + 4, symbolCorners_);
    }
    return found;
}

bool SymbolDetector::attemptSeedIn(SymbolCandidate& cand, std::int32_t x, std::int32_t y, std::int32_t radius) {
    cand.centre = blobCentreIn(x, y, radius);
    if (seedFlat_) return false;
    if (checkBullseye(cand, true)) {
        cand.type = SymbolType::FullRange;
        if (readModeRingAtScales(cand)) return true;
        // Round a small compact symbol the data layers and the quiet zone
        // continue the ring pattern, so the full-range test can pass on a
        // compact bull's-eye. When no full-range mode message reads, the
        // seed is tried as compact too; if that fails as well, the
        // candidate tells of the full-range bull's-eye that passed.
        const SymbolCandidate fullRange = cand;
        if (ringFillRan_) cand.centre = undoRingFill();
        if (checkBullseye(cand, false)) {
            cand.type = SymbolType::Compact;
            if (readModeRingAtScales(cand)) return true;
        }
        cand = fullRange;
        return false;
    }
    if (ringFillRan_) {
        // The full-range ring fill left its marks in the working image;
        // inside the compact ring's window they would stop the compact fill
        // or pull the corner lines off the ring. Take them back.
        cand.centre = undoRingFill();
    }
    if (checkBullseye(cand, false)) {
        cand.type = SymbolType::Compact;
        return readModeRingAtScales(cand);
    }
    return false;
}

bool SymbolDetector::readModeRingAtScales(SymbolCandidate& cand) {
    refineCorners(cand);
    // One transform for every scale: the scales stretch the ring, not the fit.
    fitModeRing(cand);
    for (double scale : kRingScales) {
        if (readFittedModeRing(cand, scale)) {
            // The symbol's outer edge lies half a module beyond its outermost
            // module centres.
            const double e = cand.size / 2.0;
            const Point2d c[4] = {{-e, -e}, {e, -e}, {e, e}, {-e, e}};
            for (int k = 0; k < 4; ++k) symbolCorners_[k] = Aztec::Math::mapPoint(homography_, c[k].x, c[k].y);
            if (trace_) {
                trace_->located = true;
                for (int k = 0; k < 4; ++k) {
                    trace_->bullseyeCorners[k] = cand.corners[k];
                    trace_->symbolCorners[k] = symbolCorners_[k];
                }
            }
            return true;
        }
    }
    return false;
}

// Whether enough of the symbol, as the bull's-eye's transform places it,
// lies in the frame for its data to be readable: modules off the frame
// read light, and with more than about half of them off no correction can
// succeed. A damaged mode message claiming a large symbol in a small frame
// is thus refused before any sampling.
bool SymbolDetector::symbolFitsFrame(const SymbolCandidate& cand) const {
    constexpr int kLattice = 9;
    const double half = cand.size / 2.0;
    int inside = 0;
    for (int i = 0; i < kLattice; ++i) {
        for (int j = 0; j < kLattice; ++j) {
            const double u = -half + 2.0 * half * i / (kLattice - 1), v = -half + 2.0 * half * j / (kLattice - 1);
            const Point2d p = Aztec::Math::mapPoint(homography_, u, v);
            if (p.x >= 0.0 && p.y >= 0.0 && p.x < image_.width && p.y < image_.height) ++inside;
        }
    }
    return inside >= kMinInsideShare * kLattice * kLattice;
}

bool SymbolDetector::decodeSampled(SymbolCandidate& cand, Aztec::DecodedData& decoded) {
    if (!Aztec::decodeDataChecked(cand, sampleDataGrid(cand), decoded)) return false;
    // Up to R/2 corrections make a sound decoder, but a symbol damaged far
    // beyond them still decodes, to another codeword, as often as a random
    // block lies that near one: for a one-layer compact symbol with 6 check
    // words and 3 corrections about 1 in 400 (the soak met it). The modern
    // front ends, which promise never to answer wrong, accept only
    // corrections that a random block reaches at most kMaxLog10RandomDecode
    // of the time; the described reader keeps R/2.
    return !(extended_ && decoded.correctedWords > 0 &&
             Aztec::ReedSolomon::log10RandomBlockDecodes(cand.totalWords, cand.totalWords - cand.dataWords, 0,
                                                         decoded.correctedWords, cand.wordBits) > kMaxLog10RandomDecode);
}

bool SymbolDetector::decode(SymbolCandidate& cand, Aztec::DecodedData& decoded) {
    if (!symbolFitsFrame(cand)) return false;
    const Aztec::Math::Homography located = homography_;
    compactScale_ = 1.0;
    if (decodeSampled(cand, decoded)) return true;
    if (cand.type == SymbolType::FullRange) {
        // The reference grid is built from the first neighbours of the
        // centre, on the axes in one pass and on the diagonals in the next;
        // a line search gone astray in one is usually right in the other.
        homography_ = located;
        if (trace_) trace_->modules.clear();
        return decodeSampled(cand, decoded);
    }
    // A compact symbol is sampled by extending the bull's-eye's transform
    // to four times its size, so small errors in the ring corners grow into
    // whole modules at the edge, above all through the perspective terms.
    // Retry with the affine part of the transform and with the grid
    // slightly scaled; the Reed-Solomon check decides which sampling is right.
    const double d = kCompactCornerRing;
    const Point2d ring[4] = {{-d, -d}, {d, -d}, {d, d}, {-d, d}};
    const Aztec::Math::Homography affine = Aztec::Math::fitAffineLeastSquares(ring, cand.corners);
    bool read = false;
    for (const auto& retry : kCompactRetries) {
        homography_ = retry.affine ? affine : located;
        compactScale_ = retry.scale;
        if (trace_) trace_->modules.clear();
        read = decodeSampled(cand, decoded);
        if (read) break;
    }
    compactScale_ = 1.0;
    return read;
}

void SymbolDetector::setHomography(Point2d s0, Point2d s1, Point2d s2, Point2d s3, Point2d t0, Point2d t1, Point2d t2,
                                   Point2d t3) {
    homography_ = Aztec::Math::fitHomography(s0, s1, s2, s3, t0, t1, t2, t3);
}

std::uint32_t SymbolDetector::sampleModule(double u, double v, double s) const {
    const double points[5][2] = {{u, v}, {u - s, v}, {u + s, v}, {u, v - s}, {u, v + s}};
    std::uint32_t sum = 0;  // wraps when several samples are off the image; still far above 255
    for (const auto& p : points) sum += mappedSample(p[0], p[1]);
    return sum / 5u;
}

std::uint32_t SymbolDetector::sampleModuleCoarse(double u, double v) const { return sampleModule(u, v, kCoarseSpread); }
std::uint32_t SymbolDetector::sampleModuleFine(double u, double v) const { return sampleModule(u, v, kFineSpread); }

}  // namespace AztecCore
