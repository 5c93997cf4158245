// Aztec data is a stream of codes read in one of five character tables.
// Upper, lower, mixed and punctuation use 5-bit codes, digit 4-bit codes.
// A latch changes the table until the next latch; a shift changes it for
// one code. Binary shift (B/S) is followed by a 5-bit byte count (0 means
// an 11-bit count + 31 follows) and that many raw bytes. Punctuation code 0
// is FLG(n): a 3-bit n, where n = 0 is FNC1 and n = 1..6 announces an ECI
// number of n digits (4-bit digit codes); n = 7 is reserved.
#include "decode/text_decoder.h"

#include <algorithm>
#include <array>

#include "decode/galois_field.h"

namespace Aztec {

namespace {

// Control entries are negated letters naming the action.
constexpr std::int32_t C(char c) { return -static_cast<std::int32_t>(c); }

using Table = std::array<std::int32_t, 32>;

constexpr Table kUpper = {C('p'), ' ', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N',
                          'O', 'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', C('L'), C('M'), C('D'), C('b')};
constexpr Table kLower = {C('p'), ' ', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n',
                          'o', 'p', 'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'z', C('u'), C('M'), C('D'), C('b')};
constexpr Table kMixed = {C('p'), ' ', 1,   2,   3,   4,   5,   6,   7,   8,   9,   10,     11,     12,     13,     27,
                          28,     29,  30,  31,  '@', '\\', '^', '_', '`', '|', '~', 127, C('L'), C('U'), C('P'), C('b')};
constexpr Table kPunct = {C('F'), 13,  C('1'), C('2'), C('3'), C('4'), '!', '"', '#', '$', '%', '&', '\'', '(', ')', '*',
                          '+',    ',', '-',    '.',    '/',    ':',    ';', '<', '=', '>', '?', '[', ']',  '{', '}', C('U')};
// Only the first 16 entries are reachable with 4-bit codes.
constexpr Table kDigit = {C('p'), ' ', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', ',', '.', C('U'), C('u'),
                          0,      0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,      0};

// Digit code 2 is '0', so the digit value is the code minus 2.
constexpr std::int32_t kDigitZeroCode = 2;
constexpr int kFlagCountBits = 3;
constexpr std::int32_t kFlagFnc1 = 0;
constexpr std::int32_t kFlagReserved = 7;
constexpr std::uint8_t kGroupSeparator = 29;

struct Mode {
    const Table* table;
    int codeBits;
};

Mode modeFor(char letter) {
    switch (letter) {
        case 'U': case 'u': return {&kUpper, 5};
        case 'L': case 'l': return {&kLower, 5};
        case 'M': case 'm': return {&kMixed, 5};
        case 'P': case 'p': return {&kPunct, 5};
        default: return {&kDigit, 4};
    }
}

}  // namespace

std::int32_t readBits(const BitList& bits, std::int64_t& position, int n) {
    std::int32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | (bits.get(position++) ? 1 : 0);
    return v;
}

namespace {

constexpr std::int32_t kMixedLatchCode = 29;  // in the upper table
constexpr std::int32_t kUpperLatchCode = 29;  // in the mixed table
constexpr int kMaxParts = 26;

bool isDigit(std::uint8_t b) { return b >= '0' && b <= '9'; }
bool isLetter(std::uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

// The header at the start of a structured-append part: [' ' ID ' ']
// position count. Nothing (count 0) when the bytes do not hold one.
StructuredAppend parseAppendHeader(const std::vector<std::uint8_t>& b) {
    StructuredAppend sa;
    std::size_t at = 0;
    std::string id;
    if (!b.empty() && b[0] == ' ') {
        at = 1;
        while (at < b.size() && b[at] != ' ') id.push_back(static_cast<char>(b[at++]));
        if (at == b.size()) return sa;
        ++at;
    }
    if (at + 2 > b.size()) return sa;
    const int index = b[at] - 'A' + 1, count = b[at + 1] - 'A' + 1;
    if (index < 1 || count < 2 || count > kMaxParts || index > count) return sa;
    sa.index = index;
    sa.count = count;
    sa.id = std::move(id);
    sa.headerBytes = at + 2;
    return sa;
}

}  // namespace

DecodedText decodeText(const BitList& bits) {
    DecodedText out;
    decodeText(bits, out);
    return out;
}

void decodeText(const BitList& bits, DecodedText& out) {
    out.clear();
    const auto total = static_cast<std::int64_t>(bits.size());
    Mode current{&kUpper, 5};
    Mode saved = current;
    std::int64_t pos = 0;
    // Mixed latch then upper latch as the very first codes: a structured-append part.
    bool structured = false;
    if (total >= 10) {
        std::int64_t peek = 0;
        structured = readBits(bits, peek, 5) == kMixedLatchCode && readBits(bits, peek, 5) == kUpperLatchCode;
    }
    auto append = [&out](std::int32_t b) { out.bytes.push_back(static_cast<std::uint8_t>(b)); };
    // At most two bytes per five bits (a punctuation pair in punctuation
    // mode), so the bytes are allocated once.
    out.bytes.reserve(static_cast<std::size_t>(total * 2 / 5 + 2));

    while (pos + current.codeBits <= total) {
        const std::int32_t code = readBits(bits, pos, current.codeBits);
        const std::int32_t entry = (*current.table)[static_cast<std::size_t>(code)];
        current = saved;  // a shift lasts exactly one code
        if (entry >= 0) {
            append(entry);
            continue;
        }
        const char action = static_cast<char>(-entry);
        switch (action) {
            case 'U': case 'L': case 'M': case 'P': case 'D':
                current = saved = modeFor(action);
                break;
            case 'u': case 'l': case 'm': case 'p': case 'd':
                saved = current;
                current = modeFor(action);
                break;
            case 'b': {
                std::int32_t count = readBits(bits, pos, 5);
                if (count == 0) count = readBits(bits, pos, 11) + 31;
                for (std::int32_t i = 0; i < count && pos + 8 <= total; ++i) append(readBits(bits, pos, 8));
                break;
            }
            case '1': append('\r'); append('\n'); break;
            case '2': append('.'); append(' '); break;
            case '3': append(','); append(' '); break;
            case '4': append(':'); append(' '); break;
            case 'F': {
                if (pos + kFlagCountBits > total) break;  // cut off at the very end: nothing follows
                const std::int32_t n = readBits(bits, pos, kFlagCountBits);
                if (n == kFlagReserved) throw ReedSolomon::IllegalSymbolException("Invalid FLG(n)");
                if (n == kFlagFnc1) {
                    if (out.bytes.empty() && out.ecis.empty() && !out.gs1) {
                        out.gs1 = true;
                        break;
                    }
                    // After one letter or two digits (of the data proper,
                    // past a structured-append header) it marks an
                    // application; it still reads as a separator here.
                    const std::size_t from = structured ? parseAppendHeader(out.bytes).headerBytes : 0;
                    const std::uint8_t* b = out.bytes.data() + from;
                    const std::size_t n = out.bytes.size() - std::min(from, out.bytes.size());
                    if (!out.gs1 && out.fnc1SecondAt < 0 &&
                        ((n == 1 && isLetter(b[0])) || (n == 2 && isDigit(b[0]) && isDigit(b[1]))))
                        out.fnc1SecondAt = static_cast<std::int64_t>(out.bytes.size());
                    append(kGroupSeparator);
                    break;
                }
                if (pos + 4 * n > total) throw ReedSolomon::IllegalSymbolException("Invalid FLG(n)");
                std::int32_t eci = 0;
                for (std::int32_t i = 0; i < n; ++i) {
                    const std::int32_t digit = readBits(bits, pos, 4) - kDigitZeroCode;
                    if (digit < 0 || digit > 9) throw ReedSolomon::IllegalSymbolException("Invalid FLG(n)");
                    eci = eci * 10 + digit;
                }
                out.ecis.push_back({eci, out.bytes.size()});
                break;
            }
            default:
                break;
        }
    }
    if (structured) out.structuredAppend = parseAppendHeader(out.bytes);
}

}  // namespace Aztec
