// Binary extension fields GF(2^m) with their power/log tables, polynomials
// over them, and the exception types of the whole decoding chain.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

namespace Aztec::ReedSolomon {

// Each failure carries a pointer to a static message text.
class DecodeException : public std::exception {
public:
    explicit DecodeException(const char* message) noexcept : message_(message) {}
    const char* what() const noexcept override { return message_; }

private:
    const char* message_;
};
class ArithmeticException : public DecodeException {
public:
    ArithmeticException() noexcept : DecodeException("Arithmetic Exception") {}
};
class IllegalArgumentException : public DecodeException {
    using DecodeException::DecodeException;
};
class ReedSolomonException : public DecodeException {
    using DecodeException::DecodeException;
};
class IllegalSymbolException : public DecodeException {
    using DecodeException::DecodeException;
};

class GenericGFPoly;

// GF(size) with `primitive` as its reduction polynomial. Elements are bit
// masks of the polynomial basis; addition is XOR.
class GenericGF {
public:
    GenericGF(std::int32_t size, std::int32_t primitive);
    ~GenericGF();
    GenericGF(const GenericGF&) = delete;
    GenericGF& operator=(const GenericGF&) = delete;

    void initialise();
    void ensureInitialised();
    // Frees the tables; the field must not be used afterwards.
    void release();

    std::int32_t exp(std::int32_t i);
    std::int32_t log(std::int32_t a);
    std::int32_t inverse(std::int32_t a);
    std::int32_t multiply(std::int32_t a, std::int32_t b);
    GenericGFPoly monomial(std::int32_t degree, std::int32_t coefficient);
    GenericGFPoly zero();
    GenericGFPoly one();

    // Raw tables for loops that multiply many values (initialised fields
    // only): log of each non-zero element, and exp over [0, 2 size - 2) so
    // that the exponent of a product needs no reduction.
    const std::int32_t* logs() const { return logTable_.data(); }
    const std::int32_t* wideExps() const { return expWide_.data(); }
    // exp over [0, 4 (size - 1)): sums of a reduced exponent and up to three
    // reduced steps index it directly.
    const std::uint16_t* quadExps() const { return expQuad_.data(); }

    std::int32_t size() const { return size_; }
    std::int32_t primitive() const { return primitive_; }

private:
    std::unique_ptr<GenericGFPoly> zero_;
    std::unique_ptr<GenericGFPoly> one_;
    std::vector<std::int32_t> expTable_;
    std::vector<std::int32_t> logTable_;
    std::vector<std::int32_t> expWide_;
    std::vector<std::uint16_t> expQuad_;
    std::int32_t size_;
    std::int32_t primitive_;
    bool initialised_ = false;
};

// A polynomial over one field, coefficients highest degree first. Only the
// zero polynomial has a leading zero, and its list is exactly [0].
class GenericGFPoly {
public:
    GenericGFPoly(GenericGF* field, const std::vector<std::int32_t>& coefficients);

    const std::vector<std::int32_t>& coefficients() const { return coefficients_; }
    GenericGF* field() const { return field_; }
    std::int32_t degree() const { return static_cast<std::int32_t>(coefficients_.size()) - 1; }
    bool isZero() const { return coefficients_.at(0) == 0; }
    // Coefficient of x^d.
    std::int32_t coefficient(std::int32_t d) const {
        return coefficients_.at(coefficients_.size() - 1 - static_cast<std::size_t>(d));
    }
    std::int32_t valueAt(std::int32_t a) const;
    GenericGFPoly plus(const GenericGFPoly& other) const;
    GenericGFPoly times(const GenericGFPoly& other) const;
    GenericGFPoly scale(std::int32_t k) const;
    GenericGFPoly timesMonomial(std::int32_t degree, std::int32_t k) const;

private:
    void checkSameField(const GenericGFPoly& other) const;

    GenericGF* field_;
    std::vector<std::int32_t> coefficients_;
};

// The five fields Aztec Code uses, built before main() and only read after.
GenericGF& fieldParam();   // GF(16), mode message
GenericGF& fieldData6();   // GF(64)
GenericGF& fieldData8();   // GF(256)
GenericGF& fieldData10();  // GF(1024)
GenericGF& fieldData12();  // GF(4096)

}  // namespace Aztec::ReedSolomon
