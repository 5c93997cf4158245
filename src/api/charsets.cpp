#include "api/charsets.h"

#include <algorithm>
#include <set>

#include <iconv.h>

#include <cerrno>

namespace quarrow::detail {

namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;
constexpr int kEciLatin1 = 3;
constexpr int kEciUtf8 = 26;
constexpr int kEciBinary = 899;

// The character set of each ECI designator that the C library's iconv
// converts, with the name a note shows. ECI 1 and 3 (ISO-8859-1) and 899
// (binary) are handled without iconv.
struct CharacterSet {
    int eci;
    const char* iconvName;
    const char* name;
};
constexpr CharacterSet kSets[] = {
    {0, "CP437", "CP437"},           {2, "CP437", "CP437"},
    {4, "ISO-8859-2", "ISO-8859-2"},   {5, "ISO-8859-3", "ISO-8859-3"},   {6, "ISO-8859-4", "ISO-8859-4"},
    {7, "ISO-8859-5", "ISO-8859-5"},   {8, "ISO-8859-6", "ISO-8859-6"},   {9, "ISO-8859-7", "ISO-8859-7"},
    {10, "ISO-8859-8", "ISO-8859-8"},  {11, "ISO-8859-9", "ISO-8859-9"},  {12, "ISO-8859-10", "ISO-8859-10"},
    {13, "ISO-8859-11", "ISO-8859-11"}, {15, "ISO-8859-13", "ISO-8859-13"}, {16, "ISO-8859-14", "ISO-8859-14"},
    {17, "ISO-8859-15", "ISO-8859-15"}, {18, "ISO-8859-16", "ISO-8859-16"},
    {20, "SHIFT_JIS", "Shift JIS"},
    {21, "CP1250", "Windows-1250"},   {22, "CP1251", "Windows-1251"},   {23, "CP1252", "Windows-1252"},
    {24, "CP1256", "Windows-1256"},
    {25, "UTF-16BE", "UTF-16BE"},      {26, "UTF-8", "UTF-8"},            {27, "ASCII", "ASCII"},
    {28, "BIG5", "Big5"},              {29, "GB2312", "GB 2312"},         {30, "EUC-KR", "KS X 1001"},
    {31, "GBK", "GBK"},                {32, "GB18030", "GB 18030"},       {33, "UTF-16LE", "UTF-16LE"},
    {34, "UTF-32BE", "UTF-32BE"},      {35, "UTF-32LE", "UTF-32LE"},      {170, "ASCII", "ASCII"},
};

const CharacterSet* setOf(int eci) {
    for (const CharacterSet& c : kSets)
        if (c.eci == eci) return &c;
    return nullptr;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
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

// UTF-8 is checked here rather than by iconv, which lets code points past
// U+10FFFF through: overlong forms, surrogates and those become U+FFFD.
void utf8(std::span<const std::uint8_t> b, std::string& out, Notes& notes) {
    constexpr std::uint32_t kMaxCodePoint = 0x10FFFF;
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
        if (valid && ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > kMaxCodePoint)) ||
                      (cp >= 0xD800 && cp <= 0xDFFF)))
            valid = false;
        if (!valid) {
            notes.add("bytes not valid in ECI 26 (UTF-8) replaced by U+FFFD");
            appendUtf8(out, kReplacement);
            ++i;
            continue;
        }
        appendUtf8(out, cp);
        i += n;
    }
}

// An iconv descriptor, closed on every path.
class Converter {
public:
    explicit Converter(const char* from) : cd_(iconv_open("UTF-8", from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// Converts `b` to UTF-8. A byte that starts no valid sequence (or a
// sequence cut short at the end) becomes U+FFFD and conversion goes on
// after it; false when iconv does not know the set at all.
bool convert(std::span<const std::uint8_t> b, const CharacterSet& set, std::string& out, Notes& notes) {
    Converter cv(set.iconvName);
    if (!cv.ok()) return false;
    // A UTF-8 character takes at most 4 bytes for any input unit; more room
    // than that only saves calls.
    constexpr std::size_t kChunk = 4096;
    char buffer[kChunk];
    // iconv's interface takes non-const input; it does not write to it.
    char* in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(b.data()));
    std::size_t inLeft = b.size();
    bool replaced = false;
    while (inLeft > 0) {
        char* o = buffer;
        std::size_t oLeft = sizeof buffer;
        const std::size_t rc = iconv(cv.get(), &in, &inLeft, &o, &oLeft);
        out.append(buffer, static_cast<std::size_t>(o - buffer));
        if (rc != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;  // the buffer is full: take what it holds and go on
        // EILSEQ: an invalid sequence; EINVAL: one cut short by the end.
        appendUtf8(out, kReplacement);
        replaced = true;
        ++in;
        --inLeft;
        iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
    }
    if (replaced) notes.add("bytes not valid in ECI " + std::to_string(set.eci) + " (" + set.name + ") replaced by U+FFFD");
    return true;
}

void segment(std::span<const std::uint8_t> b, int eci, std::string& out, Notes& notes) {
    if (b.empty()) return;
    if (eci == kEciLatin1 || eci == 1) return latin1(b, out);
    if (eci == kEciBinary) {
        notes.add("ECI 899 marks binary data; shown as ISO-8859-1");
        return latin1(b, out);
    }
    if (eci == kEciUtf8) return utf8(b, out, notes);
    const CharacterSet* set = setOf(eci);
    if (set && convert(b, *set, out, notes)) return;
    notes.add("ECI " + std::to_string(eci) + (set ? std::string(" (") + set->name + ") is not supported by this system's iconv"
                                                   : std::string(" is not known")) +
              "; bytes shown as ISO-8859-1");
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
