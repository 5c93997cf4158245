// Finds one Aztec symbol near the centre of a grey image, reads its mode
// message and samples its modules.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/symbol_candidate.h"
#include "decode/bit_list.h"
#include "decode/data_codewords.h"
#include "image/gray_buf.h"
#include "image/image_view.h"
#include "math/homography.h"

namespace AztecCore {

using CandidateList = std::vector<std::unique_ptr<SymbolCandidate>>;

// What one read saw, for pictures that explain a read to a person. Filled
// only when a trace is attached to the detector.
struct DetectorTrace {
    std::vector<PixelPoint> seeds;          // seeds tried, in order
    std::vector<Point2d> blobCentres;       // one per seed
    bool located = false;
    Point2d bullseyeCorners[4] = {};        // refined, when located
    Point2d symbolCorners[4] = {};          // outer corners of the symbol, when located
    struct Module {
        Point2d at;                         // image position of the module centre
        bool dark;
    };
    std::vector<Module> modules;            // sampled modules, when decoded
};

class SymbolDetector {
public:
    // A module is classified against the grey levels of the modules within
    // two of it, or of the first or last eight at the sample array's borders.
    static constexpr int kBorderWindow = 8;
    SymbolDetector();
    // Gives the working image, zeroed, to the next detector on this thread.
    ~SymbolDetector();
    SymbolDetector(const SymbolDetector&) = delete;
    SymbolDetector& operator=(const SymbolDetector&) = delete;

    // Keeps a deep copy of the image.
    void setImage(const Image::GrayBuf& image);
    // Reads the caller's pixels in place: they must stay unchanged and alive
    // until the next setImage, borrowImage or releaseImage. The reader
    // engine borrows for the length of one read, so no frame is copied.
    void borrowImage(const Image::ImageView& view);
    // Forgets a borrowed or copied image (the working image is kept).
    void releaseImage();
    // One new candidate centred on the image; never empty.
    CandidateList findCandidates();
    // The same into `list`, reusing the candidate it holds.
    void findCandidates(CandidateList& list);
    // Walks the seed spiral round the image centre; true when a mode
    // message was read at some seed.
    bool locate(SymbolCandidate& cand);
    // Samples and decodes a located candidate into `decoded`, whose storage
    // is kept; false (and `decoded` unspecified) when it does not decode.
    bool decode(SymbolCandidate& cand, Aztec::DecodedData& decoded);

    // Average of five single-pixel samples round a symbol-grid point
    // (spread 0.25 or 0.1 modules); 999999999 for each off-image sample.
    std::uint32_t sampleModuleCoarse(double u, double v) const;
    std::uint32_t sampleModuleFine(double u, double v) const;

    void setTrace(DetectorTrace* trace) { trace_ = trace; }
    // Reads reader-initialisation symbols and runes too (see
    // Aztec::decodeModeMessage), and refuses data whose corrections a
    // random block would reach too often (see decodeSampled); off unless a
    // modern front end asks.
    void setExtended(bool on) { extended_ = on; }
    // Seeds whose threshold square spans fewer than `span` grey levels are
    // passed over: flat background, where the blob fill would spend its
    // time on noise and no bull's-eye can be. 0 (the default) tries every
    // seed; a front end that searches the whole frame afterwards sets it.
    void setFlatSeedSpan(int span) { flatSeedSpan_ = span; }

    // Stages, public so that tests can drive them one at a time.
    Point2d blobCentre(std::int32_t sx, std::int32_t sy);
    bool checkBullseye(SymbolCandidate& cand, bool fullRange);
    void refineCorners(SymbolCandidate& cand);
    bool readModeRing(SymbolCandidate& cand, double scale);
    // The modules read from the data grid; the matrix is the detector's
    // own and is rewritten by the next call.
    const Aztec::ModuleMatrix& sampleDataGrid(SymbolCandidate& cand);
    // The data grid sampled and decoded with checks.
    bool decodeSampled(SymbolCandidate& cand, Aztec::DecodedData& decoded);
    void setHomography(Point2d s0, Point2d s1, Point2d s2, Point2d s3, Point2d t0, Point2d t1, Point2d t2, Point2d t3);

    const Aztec::Math::Homography& homography() const { return homography_; }
    const std::shared_ptr<Image::GrayBuf>& workImage() const { return work_; }
    const Image::ImageView& image() const { return image_; }
    // The outer corners of the located symbol, from the transform fitted to
    // the bull's-eye (valid after a successful locate).
    const Point2d* symbolCorners() const { return symbolCorners_; }

    // Value of a pixel outside the image: reads as light everywhere.
    static constexpr std::uint32_t kOffImage = 999999999u;
    // Working-image levels below this are dark, the rest light.
    static constexpr std::uint8_t kDarkBelow = 128;

private:
    friend class SymbolDetectorTestPeer;

    // Fill state shared by the blob fills and the ring fill.
    enum class FillKind { Dark, Light, Ring };
    void fillRun(std::int32_t x, std::int32_t y, FillKind kind);
    bool fillRingRun(std::int32_t x, std::int32_t y);
    void ringMarked(std::int32_t x0, std::int32_t x1, std::int32_t y);
    void ringCornerCandidate(std::int32_t x, std::int32_t y);
    void fillFrom(std::int32_t x, std::int32_t y, FillKind kind);
    // Dark in the working image; every pixel outside it is light.
    bool workDark(std::int32_t x, std::int32_t y) const {
        if (!work_ || x < 0 || y < 0 || x >= work_->width() || y >= work_->height()) return false;
        return work_->plane.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(work_->plane.stride) +
                                   static_cast<std::size_t>(x)] < kDarkBelow;
    }
    std::uint32_t imageSample(std::int32_t x, std::int32_t y) const {
        return image_.contains(x, y) ? image_.row(y)[x] : kOffImage;
    }
    // The grey value at the pixel that holds the mapped symbol-grid point
    // (u, v), or kOffImage: exactly imageSample(toPixel(x), toPixel(y)) of
    // mapPoint(homography_, u, v), with both divisions in one instruction.
    // The pixel x = floor(x + 0.5) lies in [0, width) exactly when
    // 0 <= x + 0.5 < width (NaN fails both), and then truncation is floor.
    std::uint32_t mappedSample(double u, double v) const {
        const Aztec::Math::Homography& m = homography_;
        const double pu[3] = {m[0] * u, m[3] * u, m[6] * u}, pv[3] = {m[1] * v, m[4] * v, m[7] * v};
        return mappedSampleOf(pu, pv);
    }
    // The same from the products of u and of v with the transform's
    // entries, pu = {m0 u, m3 u, m6 u} and pv = {m1 v, m4 v, m7 v}: a line
    // search that reuses them along and across its profiles reads exactly
    // the pixels that mappedSample would.
    std::uint32_t mappedSampleOf(const double* pu, const double* pv) const {
        const Aztec::Math::Homography& m = homography_;
        const double w = pu[2] + pv[2] + 1.0;
#if defined(__SSE2__)
        const __m128d num = _mm_add_pd(_mm_add_pd(_mm_loadu_pd(pu), _mm_loadu_pd(pv)), _mm_set_pd(m[5], m[2]));
        const __m128d t = _mm_add_pd(_mm_div_pd(num, _mm_set1_pd(w)), _mm_set1_pd(0.5));
        const __m128d inside = _mm_and_pd(_mm_cmpge_pd(t, _mm_setzero_pd()),
                                          _mm_cmplt_pd(t, _mm_set_pd(image_.height, image_.width)));
        if (_mm_movemask_pd(inside) != 3) return kOffImage;
        const __m128i p = _mm_cvttpd_epi32(t);
        return image_.row(_mm_cvtsi128_si32(_mm_srli_si128(p, 4)))[_mm_cvtsi128_si32(p)];
#else
        const double tx = (pu[0] + pv[0] + m[2]) / w + 0.5, ty = (pu[1] + pv[1] + m[5]) / w + 0.5;
        if (!(tx >= 0.0 && tx < image_.width && ty >= 0.0 && ty < image_.height)) return kOffImage;
        return image_.row(static_cast<std::int32_t>(ty))[static_cast<std::int32_t>(tx)];
#endif
    }
    std::uint32_t sampleModule(double u, double v, double spread) const;
    bool attemptSeed(SymbolCandidate& cand, std::int32_t x, std::int32_t y);
    bool attemptSeedIn(SymbolCandidate& cand, std::int32_t x, std::int32_t y, std::int32_t radius);
    Point2d blobCentreIn(std::int32_t sx, std::int32_t sy, std::int32_t radius);
    // The seed's window and blob as blobCentreIn left them, after a ring fill.
    Point2d undoRingFill();
    bool symbolFitsFrame(const SymbolCandidate& cand) const;
    std::int32_t seedRadius() const;
    // The blob fill of a seed strictly inside its window, on the bits of
    // the seed's class that blobCentreIn quantised.
    void fillBlob(std::int32_t sx, std::int32_t sy);
    void touch(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1);
    void startImage();
    // The working image: a spare one left by an earlier detector on this
    // thread (all zeros), else a new one.
    static std::shared_ptr<Image::GrayBuf> takeWorkImage();
    bool readModeRingAtScales(SymbolCandidate& cand);
    // readModeRing in two steps: the transform from the bull's-eye's
    // corners, then the ring sampled through it at a scale.
    void fitModeRing(const SymbolCandidate& cand);
    bool readFittedModeRing(SymbolCandidate& cand, double scale);

    // Data grid helpers.
    void placeCompactGrid(SymbolCandidate& cand);
    void buildReferenceGrid(SymbolCandidate& cand);
    Point2d refinedGridPoint(std::int32_t u, std::int32_t v, bool refine);
    Aztec::Math::Homography crossingsFit(const SymbolCandidate& cand, int ring) const;
    double alongLine(std::int32_t c) const;
    double locateLine(std::int32_t uc, std::int32_t vc, bool vertical);
    double locateVerticalLine(std::int32_t uc, std::int32_t vc);
    double locateHorizontalLine(std::int32_t uc, std::int32_t vc);
    void sampleCell(const SymbolCandidate& cand, int i, int j, int ox, int oy);
    std::int32_t rowExtremes(std::int32_t p, std::int32_t n);

    PixelPoint quadrantCorner_[4] = {};
    std::int32_t quadrantDist2_[4] = {};
    Image::ImageView image_;                   // what is read; owned_ or the caller's
    std::unique_ptr<Image::GrayBuf> owned_;    // setImage's copy
    std::shared_ptr<Image::GrayBuf> work_;
    // 64-bit sums: a large ring window times pixel coordinates can pass 2^31.
    std::int64_t sumX_ = 0, sumY_ = 0;
    std::int32_t count_ = 0;
    std::int32_t maxCount_ = 0;
    std::int32_t xMin_ = 0, xMax_ = 0, yMin_ = 0, yMax_ = 0;
    // The queue of the run fills: seeds_[seedHead_ ..] are pending; kept
    // between fills so that its storage is reused.
    std::vector<PixelPoint> seeds_;
    std::size_t seedHead_ = 0;
    void clearSeeds() {
        seeds_.clear();
        seedHead_ = 0;
    }
    std::vector<PixelPoint> spanStack_;  // pending runs of the blob fills
    std::vector<std::uint64_t> fillBits_;  // the blob fills' unfilled pixels, a bit each
    std::vector<std::uint64_t> fillClass_;  // the window's pixels of the seed's class, as quantised
    std::vector<std::uint64_t> fillReached_;  // a blob handed over to row growth
    std::vector<std::uint32_t> growScratch_;  // and growRegion's working storage
    std::vector<std::uint16_t> samples_; // module samples of the data grid, square (grey levels; above 255 off the image)
    std::vector<std::uint32_t> ringSamples_;  // and of the mode ring
    // The reference grid's crossings and those kept for its refit (crossingsFit).
    mutable std::vector<Point2d> fitSources_, fitTargets_, keptSources_, keptTargets_;
    Aztec::BitList ringBits_;
    Aztec::ModuleMatrix modules_;         // what sampleDataGrid returns, kept between symbols
    std::int32_t samplesSide_ = 0;
    // Classification windows' extremes of the sample array: along the
    // second index for the rows in use (rowExtremes; passRow_ says which
    // row each of the eight slots holds), then along the first for the one
    // row being classified (windowLow_ and windowHigh_, a row long).
    std::vector<std::uint8_t> passLow_, passHigh_, windowLow_, windowHigh_;
    std::array<std::int32_t, kBorderWindow> passRow_{};
    PixelPoint ringCentre_;
    Aztec::Math::Homography homography_{};
    std::int32_t gridPasses_ = 0;
    bool ringFillRan_ = false;
    bool ringRunsByPixel_ = false;  // the ring fill's pixel walk alone, for tests
    // Box [x0, x1) x [y0, y1) of the pixels the last ring fill marked.
    std::int32_t markedX0_ = 0, markedX1_ = 0, markedY0_ = 0, markedY1_ = 0;
    std::int32_t symbolHalf_ = 0;
    double compactScale_ = 1.0;  // scale of the compact grid round the centre, for retries
    // The seed's quantised window [x0, x1) x [y0, y1), whether its blob fill
    // reached the window's edge, and whether a bull's-eye test since looked
    // beyond it (very large modules).
    std::int32_t quantX0_ = 0, quantX1_ = 0, quantY0_ = 0, quantY1_ = 0;
    bool blobReachedEdge_ = false;
    // The seed's blob: its sums and centre, for undoRingFill.
    std::int64_t blobSumX_ = 0, blobSumY_ = 0;
    std::int32_t blobCount_ = 0;
    Point2d blobCentre_{-1.0, -1.0};
    bool windowOutrun_ = false;
    int wideRetries_ = 0;
    // Bounding box [x0, x1) x [y0, y1) of what this image wrote into the
    // working image; cleared for the next image, so that a reused detector
    // answers exactly as a new one.
    std::int32_t touchX0_ = 0, touchX1_ = 0, touchY0_ = 0, touchY1_ = 0;

    Point2d symbolCorners_[4] = {};
    DetectorTrace* trace_ = nullptr;
    bool extended_ = false;
    int flatSeedSpan_ = 0;
    bool seedFlat_ = false;  // the last seed's square was flat (setFlatSeedSpan)
    std::vector<std::vector<Point2d>> tracedCentres_;  // image positions of the sampled modules, when tracing
};

// The reference-line search on its own, for tests.
std::int32_t alternationScore(const std::vector<std::int32_t>& profile);
// Index (possibly halfway between two) of the middle of the best run of
// low scores; 0 when there is none.
double bestRunCentre(const std::vector<std::int32_t>& scores);
// Dark when below the mid-level of the 5 x 5 (8 at the borders) window.
bool isDarkModule(const std::vector<std::vector<std::uint32_t>>& array, std::int32_t p, std::int32_t q);
// Splits ring samples into dark (true) and light at fraction t of the range.
void binariseRing(const std::vector<std::uint32_t>& samples, Aztec::BitList& bits, float t);

}  // namespace AztecCore
