// The detector's state, the seed spiral round the frame centre, the
// per-seed attempt and the perspective module sampler. The stages live in
// blob_fill.cpp, bullseye.cpp, mode_ring.cpp and data_grid.cpp.
#include "detect/symbol_detector.h"

#include "decode/data_codewords.h"

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
}  // namespace

SymbolDetector::SymbolDetector() = default;

void SymbolDetector::setImage(const Image::GrayBuf& image) { image_ = std::make_shared<Image::GrayBuf>(image); }

CandidateList SymbolDetector::findCandidates() {
    CandidateList list;
    auto cand = std::make_unique<SymbolCandidate>();
    if (image_) cand->centre = {image_->width() * 0.5, image_->height() * 0.5};
    list.push_back(std::move(cand));
    return list;
}

bool SymbolDetector::locate(SymbolCandidate& cand) {
    // An empty image has no working image to test; nothing can be found.
    if (!image_ || image_->width() <= 0 || image_->height() <= 0) return false;
    const std::int32_t cx = image_->width() / 2;
    const std::int32_t cy = image_->height() / 2;
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
    cand.centre = blobCentre(x, y);
    if (trace_) {
        trace_->seeds.push_back({x, y});
        trace_->blobCentres.push_back(cand.centre);
    }
    if (checkBullseye(cand, true)) {
        cand.type = SymbolType::FullRange;
        if (readModeRingAtScales(cand)) return true;
        // Round a small compact symbol the data layers and the quiet zone
        // continue the ring pattern, so the full-range test can pass on a
        // compact bull's-eye. When no full-range mode message reads, the
        // seed is tried as compact too.
    }
    if (ringFillRan_) {
        // The full-range ring fill left its marks in the working image;
        // inside the compact ring's window they would stop the compact fill
        // or pull the corner lines off the ring. Quantise the window afresh.
        cand.centre = blobCentre(x, y);
    }
    if (checkBullseye(cand, false)) {
        cand.type = SymbolType::Compact;
        return readModeRingAtScales(cand);
    }
    return false;
}

bool SymbolDetector::readModeRingAtScales(SymbolCandidate& cand) {
    refineCorners(cand);
    for (double scale : kRingScales) {
        if (readModeRing(cand, scale)) {
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

std::optional<Aztec::DecodedData> SymbolDetector::decode(SymbolCandidate& cand) {
    const Aztec::Math::Homography located = homography_;
    compactScale_ = 1.0;
    auto decoded = Aztec::decodeData(cand, sampleDataGrid(cand));
    if (decoded) return decoded;
    if (cand.type == SymbolType::FullRange) {
        // The reference grid is built from the first neighbours of the
        // centre, on the axes in one pass and on the diagonals in the next;
        // a line search gone astray in one is usually right in the other.
        homography_ = located;
        if (trace_) trace_->modules.clear();
        return Aztec::decodeData(cand, sampleDataGrid(cand));
    }
    // A compact symbol is sampled by extending the bull's-eye's transform
    // to four times its size, so small errors in the ring corners grow into
    // whole modules at the edge, above all through the perspective terms.
    // Retry with the affine part of the transform and with the grid
    // slightly scaled; the Reed-Solomon check decides which sampling is right.
    const double d = kCompactCornerRing;
    const Aztec::Math::Homography affine = Aztec::Math::fitAffineLeastSquares(
        {{-d, -d}, {d, -d}, {d, d}, {-d, d}}, {cand.corners[0], cand.corners[1], cand.corners[2], cand.corners[3]});
    for (const auto& retry : kCompactRetries) {
        homography_ = retry.affine ? affine : located;
        compactScale_ = retry.scale;
        if (trace_) trace_->modules.clear();
        decoded = Aztec::decodeData(cand, sampleDataGrid(cand));
        if (decoded) break;
    }
    compactScale_ = 1.0;
    return decoded;
}

void SymbolDetector::setHomography(Point2d s0, Point2d s1, Point2d s2, Point2d s3, Point2d t0, Point2d t1, Point2d t2,
                                   Point2d t3) {
    homography_ = Aztec::Math::fitHomography(s0, s1, s2, s3, t0, t1, t2, t3);
}

std::uint32_t SymbolDetector::imageSample(std::int32_t x, std::int32_t y) const {
    if (x < 0 || y < 0 || x >= image_->width() || y >= image_->height()) return kOffImage;
    return image_->plane.get(x, y);
}

std::uint32_t SymbolDetector::sampleModule(double u, double v, double s) const {
    const double points[5][2] = {{u, v}, {u - s, v}, {u + s, v}, {u, v - s}, {u, v + s}};
    std::uint32_t sum = 0;  // wraps when several samples are off the image; still far above 255
    for (const auto& p : points) {
        const Point2d m = Aztec::Math::mapPoint(homography_, p[0], p[1]);
        sum += imageSample(Aztec::Math::toPixel(m.x), Aztec::Math::toPixel(m.y));
    }
    return sum / 5u;
}

std::uint32_t SymbolDetector::sampleModuleCoarse(double u, double v) const { return sampleModule(u, v, kCoarseSpread); }
std::uint32_t SymbolDetector::sampleModuleFine(double u, double v) const { return sampleModule(u, v, kFineSpread); }

}  // namespace AztecCore
