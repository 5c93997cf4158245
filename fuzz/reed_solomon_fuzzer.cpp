// Reed-Solomon over every field the symbols use, against an encoder of our
// own: a codeword with at most R/2 wrong words (R check words) must come
// back exactly; with more, the decoder may refuse or correct towards some
// codeword, but only one within R/2 words of what it was given, and the
// count it returns must be the number of words it changed.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "decode/galois_field.h"
#include "decode/reed_solomon.h"
#include "decode/rs_test_util.h"

namespace {

Aztec::ReedSolomon::GenericGF& fieldNumber(int i) {
    using namespace Aztec::ReedSolomon;
    switch (i) {
        case 0: return fieldParam();
        case 1: return fieldData6();
        case 2: return fieldData8();
        case 3: return fieldData10();
        default: return fieldData12();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    auto& field = fieldNumber(in.ConsumeIntegralInRange(0, 4));
    const int maxWord = field.size() - 1;
    // Blocks stay short enough for quick runs; every length class of the
    // symbols (mode message 7/10, data up to a few hundred) is reachable.
    const int n = in.ConsumeIntegralInRange(2, std::min(maxWord, 300));
    const int twoS = in.ConsumeIntegralInRange(1, n - 1);
    std::vector<std::int32_t> message(static_cast<std::size_t>(n - twoS));
    for (auto& w : message) w = in.ConsumeIntegralInRange(0, maxWord);
    const std::vector<std::int32_t> sent = quarrow_test::rsEncode(field, message, twoS);
    std::vector<std::int32_t> received = sent;
    const int errors = in.ConsumeIntegralInRange(0, twoS + 2);
    for (int e = 0; e < errors && in.remaining_bytes() > 0; ++e) {
        const auto at = static_cast<std::size_t>(in.ConsumeIntegralInRange(0, n - 1));
        received[at] ^= in.ConsumeIntegralInRange(1, maxWord);
    }
    int distance = 0;
    for (int i = 0; i < n; ++i) distance += received[static_cast<std::size_t>(i)] != sent[static_cast<std::size_t>(i)];

    std::vector<std::int32_t> corrected = received;
    Aztec::ReedSolomon::Decoder decoder(field);
    std::int32_t count = -1;
    try {
        count = decoder.correct(corrected, twoS);
    } catch (const Aztec::ReedSolomon::ReedSolomonException&) {
        if (2 * distance <= twoS) std::abort();  // correctable, yet refused
        return 0;
    }
    int changed = 0;
    for (int i = 0; i < n; ++i) changed += corrected[static_cast<std::size_t>(i)] != received[static_cast<std::size_t>(i)];
    if (count != changed) std::abort();
    if (2 * changed > twoS) std::abort();  // beyond what R check words allow
    if (!quarrow_test::isCodeword(field, corrected, twoS)) std::abort();
    if (2 * distance <= twoS && corrected != sent) std::abort();
    return 0;
}
