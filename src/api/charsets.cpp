#include "api/charsets.h"

#include <algorithm>
#include <set>

#include "api/charset_tables.h"

namespace quarrow::detail {

namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;
constexpr std::uint32_t kMaxCodePoint = 0x10FFFF;

// ECI numbers of the character sets read here.
enum Eci : int {
    kEciCp437 = 0,
    kEciLatin1Old = 1,
    kEciCp437Old = 2,
    kEciLatin1 = 3,
    kEciIso8859First = 4,   // ISO-8859-2
    kEciIso8859Last = 18,   // ISO-8859-16
    kEciIso8859Gap = 14,    // there is no ISO-8859-12
    kEciShiftJis = 20,
    kEciCp1250 = 21,
    kEciCp1251 = 22,
    kEciCp1252 = 23,
    kEciCp1256 = 24,
    kEciUtf16Be = 25,
    kEciUtf8 = 26,
    kEciAscii = 27,
    kEciBig5 = 28,
    kEciGb2312 = 29,
    kEciKsx1001 = 30,
    kEciGbk = 31,
    kEciGb18030 = 32,
    kEciUtf16Le = 33,
    kEciUtf32Be = 34,
    kEciUtf32Le = 35,
    kEciAsciiInvariant = 170,
    kEciBinary = 899,
};

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp > kMaxCodePoint || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

const std::uint16_t* singleByteTable(int eci) {
    static const std::uint16_t* const kIso8859[] = {
        kIso8859_2, kIso8859_3, kIso8859_4, kIso8859_5, kIso8859_6, kIso8859_7, kIso8859_8,
        kIso8859_9, kIso8859_10, kIso8859_11, nullptr, kIso8859_13, kIso8859_14, kIso8859_15, kIso8859_16,
    };
    if (eci == kEciCp437 || eci == kEciCp437Old) return kCp437;
    if (eci >= kEciIso8859First && eci <= kEciIso8859Last) return kIso8859[eci - kEciIso8859First];
    switch (eci) {
        case kEciCp1250: return kCp1250;
        case kEciCp1251: return kCp1251;
        case kEciCp1252: return kCp1252;
        case kEciCp1256: return kCp1256;
        default: return nullptr;
    }
}

struct Notes {
    std::set<std::string> seen;
    std::string text;
    void add(const std::string& n) {
        if (!seen.insert(n).second) return;
        if (!text.empty()) text += "; ";
        text += n;
    }
};

void latin1(std::span<const std::uint8_t> b, std::string& out) {
    for (std::uint8_t c : b) appendUtf8(out, c);
}

void singleByte(std::span<const std::uint8_t> b, const std::uint16_t* table, int eci, std::string& out, Notes& notes) {
    for (std::uint8_t c : b) {
        const std::uint32_t cp = c < 0x80 ? c : table[c - 0x80];
        if (cp == kReplacement) notes.add("bytes undefined in ECI " + std::to_string(eci) + " replaced by U+FFFD");
        appendUtf8(out, cp);
    }
}

void ascii(std::span<const std::uint8_t> b, std::string& out, Notes& notes) {
    for (std::uint8_t c : b) {
        if (c >= 0x80) notes.add("bytes above 0x7F in ASCII data replaced by U+FFFD");
        appendUtf8(out, c < 0x80 ? c : kReplacement);
    }
}

void utf8(std::span<const std::uint8_t> b, std::string& out, Notes& notes) {
    std::size_t i = 0;
    while (i < b.size()) {
        const std::uint8_t c = b[i];
        std::size_t n = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) { n = 1; cp = c; }
        else if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1F; }
        else if (c >= 0xE0 && c <= 0xEF) { n = 3; cp = c & 0x0F; }
        else if (c >= 0xF0 && c <= 0xF4) { n = 4; cp = c & 0x07; }
        bool valid = n > 0 && i + n <= b.size();
        for (std::size_t k = 1; valid && k < n; ++k) {
            if ((b[i + k] & 0xC0) != 0x80) valid = false;
            cp = (cp << 6) | (b[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and code points beyond U+10FFFF.
        if (valid && ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > kMaxCodePoint)) ||
                      (cp >= 0xD800 && cp <= 0xDFFF)))
            valid = false;
        if (!valid) {
            notes.add("invalid UTF-8 replaced by U+FFFD");
            appendUtf8(out, kReplacement);
            ++i;
            continue;
        }
        appendUtf8(out, cp);
        i += n;
    }
}

void utf16(std::span<const std::uint8_t> b, bool bigEndian, std::string& out, Notes& notes) {
    auto unit = [&](std::size_t i) -> std::uint32_t {
        return bigEndian ? (std::uint32_t{b[i]} << 8) | b[i + 1] : (std::uint32_t{b[i + 1]} << 8) | b[i];
    };
    std::size_t i = 0;
    for (; i + 1 < b.size(); i += 2) {
        const std::uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < b.size()) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) notes.add("invalid UTF-16 replaced by U+FFFD");
        appendUtf8(out, u);
    }
    if (i < b.size()) {
        notes.add("odd byte count in UTF-16 data");
        appendUtf8(out, kReplacement);
    }
}

void utf32(std::span<const std::uint8_t> b, bool bigEndian, std::string& out, Notes& notes) {
    std::size_t i = 0;
    for (; i + 3 < b.size(); i += 4) {
        std::uint32_t cp = 0;
        for (int k = 0; k < 4; ++k) cp = (cp << 8) | b[i + (bigEndian ? k : 3 - k)];
        if (cp > kMaxCodePoint || (cp >= 0xD800 && cp <= 0xDFFF)) notes.add("invalid UTF-32 replaced by U+FFFD");
        appendUtf8(out, cp);
    }
    if (i < b.size()) {
        notes.add("byte count of UTF-32 data is not a multiple of 4");
        appendUtf8(out, kReplacement);
    }
}

void shiftJis(std::span<const std::uint8_t> b, std::string& out, Notes& notes) {
    constexpr std::uint8_t kKanaFirst = 0xA1, kKanaLast = 0xDF;
    constexpr std::uint32_t kKanaBase = 0xFF61;
    std::size_t i = 0;
    while (i < b.size()) {
        const std::uint8_t c = b[i];
        if (c < 0x80) {
            appendUtf8(out, c);
            ++i;
            continue;
        }
        if (c >= kKanaFirst && c <= kKanaLast) {
            appendUtf8(out, kKanaBase + (c - kKanaFirst));
            ++i;
            continue;
        }
        int lead = -1;
        if (c >= 0x81 && c <= 0x9F) lead = c - 0x81;
        else if (c >= 0xE0 && c <= 0xEF) lead = 0x9F - 0x81 + 1 + (c - 0xE0);
        std::uint32_t cp = kReplacement;
        std::size_t used = 1;
        if (lead >= 0 && i + 1 < b.size()) {
            const std::uint8_t t = b[i + 1];
            if (t >= 0x40 && t <= 0xFC && t != 0x7F) {
                const int trail = t - 0x40 - (t > 0x7F ? 1 : 0);
                cp = kShiftJis[lead * kShiftJisTrails + trail];
                used = 2;
            }
        }
        if (cp == kReplacement) notes.add("invalid Shift JIS replaced by U+FFFD");
        appendUtf8(out, cp);
        i += used;
    }
}

const char* unsupportedName(int eci) {
    switch (eci) {
        case kEciBig5: return "Big5";
        case kEciGb2312: return "GB 2312";
        case kEciKsx1001: return "KS X 1001";
        case kEciGbk: return "GBK";
        case kEciGb18030: return "GB 18030";
        default: return nullptr;
    }
}

void segment(std::span<const std::uint8_t> b, int eci, std::string& out, Notes& notes) {
    if (eci == kEciLatin1 || eci == kEciLatin1Old) return latin1(b, out);
    if (const std::uint16_t* table = singleByteTable(eci)) return singleByte(b, table, eci, out, notes);
    switch (eci) {
        case kEciShiftJis: return shiftJis(b, out, notes);
        case kEciUtf16Be: return utf16(b, true, out, notes);
        case kEciUtf16Le: return utf16(b, false, out, notes);
        case kEciUtf8: return utf8(b, out, notes);
        case kEciUtf32Be: return utf32(b, true, out, notes);
        case kEciUtf32Le: return utf32(b, false, out, notes);
        case kEciAscii:
        case kEciAsciiInvariant: return ascii(b, out, notes);
        case kEciBinary:
            if (!b.empty()) notes.add("ECI 899 marks binary data; shown as ISO-8859-1");
            return latin1(b, out);
        default: break;
    }
    if (!b.empty()) {
        const char* name = unsupportedName(eci);
        notes.add("ECI " + std::to_string(eci) + (name ? std::string(" (") + name + ")" : std::string()) +
                  (name ? " is not supported" : " is not known") + "; bytes shown as ISO-8859-1");
    }
    latin1(b, out);
}

}  // namespace

std::string bytesToUtf8(std::span<const std::uint8_t> bytes, const std::vector<EciMark>& ecis, std::string& note) {
    std::vector<EciMark> marks = ecis;
    std::stable_sort(marks.begin(), marks.end(), [](const EciMark& a, const EciMark& b) { return a.position < b.position; });
    std::string out;
    out.reserve(bytes.size());
    Notes notes;
    std::size_t start = 0;
    int eci = kEciLatin1;
    for (const EciMark& m : marks) {
        const std::size_t end = std::min(m.position, bytes.size());
        if (end > start) segment(bytes.subspan(start, end - start), eci, out, notes);
        start = std::max(start, end);
        eci = m.eci;
    }
    if (start < bytes.size()) segment(bytes.subspan(start), eci, out, notes);
    note = notes.text;
    return out;
}

}  // namespace quarrow::detail
