#include "decode/galois_field.h"

#include <stdexcept>

namespace Aztec::ReedSolomon {

namespace {
constexpr const char* kCoefficientsEmpty = "Coefficients is null or empty";
constexpr const char* kDifferentFields = "GenericGFPolys do not have the same GenericGF field";
}  // namespace

GenericGF::GenericGF(std::int32_t size, std::int32_t primitive) : size_(size), primitive_(primitive) {}

GenericGF::~GenericGF() = default;

void GenericGF::initialise() {
    expTable_.assign(static_cast<std::size_t>(size_), 0);
    logTable_.assign(static_cast<std::size_t>(size_), 0);
    std::int32_t x = 1;
    for (std::int32_t i = 0; i < size_; ++i) {
        expTable_[static_cast<std::size_t>(i)] = x;
        x <<= 1;
        if (x >= size_) x = (x ^ primitive_) & (size_ - 1);
    }
    // expTable[size - 1] wraps round to 1, so only size - 1 logs are set.
    for (std::int32_t i = 0; i < size_ - 1; ++i) logTable_[static_cast<std::size_t>(expTable_[static_cast<std::size_t>(i)])] = i;
    expWide_.assign(static_cast<std::size_t>(2 * size_), 0);
    for (std::int32_t i = 0; i < 2 * size_; ++i)
        expWide_[static_cast<std::size_t>(i)] = expTable_[static_cast<std::size_t>(i % (size_ - 1))];
    expQuad_.assign(static_cast<std::size_t>(4 * size_), 0);
    for (std::int32_t i = 0; i < 4 * size_; ++i)
        expQuad_[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(expTable_[static_cast<std::size_t>(i % (size_ - 1))]);
    zero_ = std::make_unique<GenericGFPoly>(this, std::vector<std::int32_t>{0});
    one_ = std::make_unique<GenericGFPoly>(this, std::vector<std::int32_t>{1});
    initialised_ = true;
}

void GenericGF::ensureInitialised() {
    if (!initialised_) initialise();
}

void GenericGF::release() {
    zero_.reset();
    one_.reset();
    expTable_.clear();
    logTable_.clear();
    expWide_.clear();
    expQuad_.clear();
    size_ = 0;
    initialised_ = false;
}

std::int32_t GenericGF::exp(std::int32_t i) {
    ensureInitialised();
    return expTable_.at(static_cast<std::size_t>(i));
}

std::int32_t GenericGF::log(std::int32_t a) {
    ensureInitialised();
    if (a == 0) throw IllegalArgumentException("Log praram is zero");
    return logTable_.at(static_cast<std::size_t>(a));
}

std::int32_t GenericGF::inverse(std::int32_t a) {
    ensureInitialised();
    if (a == 0) throw ArithmeticException();
    return expTable_.at(static_cast<std::size_t>(size_ - logTable_.at(static_cast<std::size_t>(a)) - 1));
}

std::int32_t GenericGF::multiply(std::int32_t a, std::int32_t b) {
    ensureInitialised();
    if (a == 0 || b == 0) return 0;
    // One range check for both operands (the hot path of every correction);
    // the table reads below are then in range.
    if (a < 0 || b < 0 || a >= size_ || b >= size_) throw std::out_of_range("invalid vector<T> subscript");
    // The sum of two logs is below 2 (size - 1), where the wide table
    // repeats the powers, so no reduction (and no division) is needed.
    const std::int32_t s = logTable_[static_cast<std::size_t>(a)] + logTable_[static_cast<std::size_t>(b)];
    return expWide_[static_cast<std::size_t>(s)];
}

GenericGFPoly GenericGF::monomial(std::int32_t degree, std::int32_t coefficient) {
    ensureInitialised();
    if (degree < 0) throw IllegalArgumentException("degree < 0");
    if (coefficient == 0) return *zero_;
    std::vector<std::int32_t> c(static_cast<std::size_t>(degree) + 1, 0);
    c[0] = coefficient;
    return GenericGFPoly(this, c);
}

GenericGFPoly GenericGF::zero() {
    ensureInitialised();
    return *zero_;
}

GenericGFPoly GenericGF::one() {
    ensureInitialised();
    return *one_;
}

GenericGFPoly::GenericGFPoly(GenericGF* field, const std::vector<std::int32_t>& coefficients) : field_(field) {
    if (coefficients.empty()) throw IllegalArgumentException(kCoefficientsEmpty);
    if (coefficients.size() > 1 && coefficients[0] == 0) {
        std::size_t first = 1;
        while (first < coefficients.size() && coefficients[first] == 0) ++first;
        if (first == coefficients.size()) {
            coefficients_ = {0};
        } else {
            coefficients_.assign(coefficients.begin() + static_cast<std::ptrdiff_t>(first), coefficients.end());
        }
    } else {
        coefficients_ = coefficients;
    }
}

std::int32_t GenericGFPoly::valueAt(std::int32_t a) const {
    if (a == 0) return coefficient(0);
    if (a == 1) {
        std::int32_t r = 0;
        for (std::int32_t c : coefficients_) r ^= c;
        return r;
    }
    std::int32_t r = coefficients_[0];
    for (std::size_t i = 1; i < coefficients_.size(); ++i) r = field_->multiply(a, r) ^ coefficients_[i];
    return r;
}

void GenericGFPoly::checkSameField(const GenericGFPoly& other) const {
    if (field_ != other.field_) throw IllegalArgumentException(kDifferentFields);
}

GenericGFPoly GenericGFPoly::plus(const GenericGFPoly& other) const {
    checkSameField(other);
    if (isZero()) return other;
    if (other.isZero()) return *this;
    const auto* smaller = &coefficients_;
    const auto* larger = &other.coefficients_;
    if (smaller->size() > larger->size()) std::swap(smaller, larger);
    std::vector<std::int32_t> sum(*larger);
    const std::size_t d = larger->size() - smaller->size();
    for (std::size_t i = d; i < larger->size(); ++i) sum[i] ^= (*smaller)[i - d];
    return GenericGFPoly(field_, sum);
}

GenericGFPoly GenericGFPoly::times(const GenericGFPoly& other) const {
    checkSameField(other);
    if (isZero() || other.isZero()) return field_->zero();
    const auto& a = coefficients_;
    const auto& b = other.coefficients_;
    std::vector<std::int32_t> product(a.size() + b.size() - 1, 0);
    for (std::size_t i = 0; i < a.size(); ++i) {
        for (std::size_t j = 0; j < b.size(); ++j) product[i + j] ^= field_->multiply(a[i], b[j]);
    }
    return GenericGFPoly(field_, product);
}

GenericGFPoly GenericGFPoly::scale(std::int32_t k) const {
    if (k == 0) return field_->zero();
    if (k == 1) return *this;
    std::vector<std::int32_t> c(coefficients_);
    for (auto& v : c) v = field_->multiply(v, k);
    return GenericGFPoly(field_, c);
}

GenericGFPoly GenericGFPoly::timesMonomial(std::int32_t degree, std::int32_t k) const {
    if (degree < 0) throw IllegalArgumentException("Degree < 0");
    if (k == 0) return field_->zero();
    std::vector<std::int32_t> c(coefficients_.size() + static_cast<std::size_t>(degree), 0);
    for (std::size_t i = 0; i < coefficients_.size(); ++i) c[i] = field_->multiply(coefficients_[i], k);
    return GenericGFPoly(field_, c);
}

// Function-local statics would be built lazily on first use, from whichever
// thread reads first. Building them here, during static initialisation,
// means every reader call finds them ready and only reads them.
namespace {
struct Fields {
    GenericGF data12{4096, 0x1069};  // x^12 + x^6 + x^5 + x^3 + 1
    GenericGF data10{1024, 0x409};   // x^10 + x^3 + 1
    GenericGF data8{256, 0x12D};     // x^8 + x^5 + x^3 + x^2 + 1
    GenericGF data6{64, 0x43};       // x^6 + x + 1
    GenericGF param{16, 0x13};       // x^4 + x + 1
    Fields() {
        data12.initialise();
        data10.initialise();
        data8.initialise();
        data6.initialise();
        param.initialise();
    }
};
Fields& fields() {
    static Fields instance;
    return instance;
}
[[maybe_unused]] const bool kFieldsBuilt = (fields(), true);
}  // namespace

GenericGF& fieldParam() { return fields().param; }
GenericGF& fieldData6() { return fields().data6; }
GenericGF& fieldData8() { return fields().data8; }
GenericGF& fieldData10() { return fields().data10; }
GenericGF& fieldData12() { return fields().data12; }

}  // namespace Aztec::ReedSolomon
