#include "support/zint_symbol.h"

#include <zint.h>

#include <memory>

#include "support/grid_reading.h"

namespace quarrow_test {

namespace {

using SymbolPtr = std::unique_ptr<zint_symbol, decltype(&ZBarcode_Delete)>;

// Encodes `data` (unless the symbol is `encoded` already) and copies the modules out.
bool encode(SymbolPtr& sym, const std::string& data, ModuleGrid& out, std::string* error, bool encoded = false) {
    const int rc = encoded ? 0
                           : ZBarcode_Encode(sym.get(), reinterpret_cast<const unsigned char*>(data.data()),
                                             static_cast<int>(data.size()));
    if (rc >= ZINT_ERROR) {
        if (error) *error = sym->errtxt;
        return false;
    }
    out.size = sym->width;
    out.modules.assign(static_cast<std::size_t>(sym->rows), std::vector<bool>(static_cast<std::size_t>(sym->width)));
    for (int r = 0; r < sym->rows; ++r) {
        for (int c = 0; c < sym->width; ++c) {
            out.modules[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] =
                (sym->encoded_data[r][c / 8] >> (c % 8)) & 1;
        }
    }
    return true;
}

bool encodeOnce(const std::string& data, const EncodeOptions& options, ModuleGrid& out, std::string* error) {
    SymbolPtr sym(ZBarcode_Create(), &ZBarcode_Delete);
    sym->symbology = BARCODE_AZTEC;
    sym->option_1 = options.eccLevel > 0 ? options.eccLevel : -1;
    sym->option_2 = options.size;
    sym->eci = options.eci;
    sym->input_mode = options.gs1 ? GS1_MODE : (options.utf8 ? UNICODE_MODE : DATA_MODE);
    if (options.partCount > 0) {
        sym->structapp.index = options.partIndex;
        sym->structapp.count = options.partCount;
        options.partId.copy(sym->structapp.id, sizeof sym->structapp.id - 1);
    }
    if (options.readerInit) sym->output_options |= READER_INIT;
    return encode(sym, data, out, error);
}

}  // namespace

// A symbol whose data-word count libzint wrapped (grid_reading.h) is
// encoded again at the smallest full-range size that holds its data.
bool encodeAztec(const std::string& data, const EncodeOptions& options, ModuleGrid& out, std::string* error) {
    constexpr int kFirstFullRangeSize = 5, kLastFullRangeSize = 36;
    if (!encodeOnce(data, options, out, error)) return false;
    if (!dataWordCountWrapped(out)) return true;
    EncodeOptions fullRange = options;
    for (fullRange.size = kFirstFullRangeSize; fullRange.size <= kLastFullRangeSize; ++fullRange.size)
        if (encodeOnce(data, fullRange, out, error)) return true;
    return false;
}

bool encodeAztecSegments(const std::vector<Segment>& segments, ModuleGrid& out, std::string* error) {
    SymbolPtr sym(ZBarcode_Create(), &ZBarcode_Delete);
    sym->symbology = BARCODE_AZTEC;
    sym->input_mode = UNICODE_MODE;
    std::vector<zint_seg> segs;
    for (const Segment& s : segments)
        segs.push_back({reinterpret_cast<unsigned char*>(const_cast<char*>(s.utf8.data())), static_cast<int>(s.utf8.size()), s.eci});
    const int rc = ZBarcode_Encode_Segs(sym.get(), segs.data(), static_cast<int>(segs.size()));
    if (rc >= ZINT_ERROR) {
        if (error) *error = sym->errtxt;
        return false;
    }
    return encode(sym, "", out, error, /*encoded=*/true);
}

bool encodeRune(int value, ModuleGrid& out) {
    SymbolPtr sym(ZBarcode_Create(), &ZBarcode_Delete);
    sym->symbology = BARCODE_AZRUNE;
    return encode(sym, std::to_string(value), out, nullptr);
}

ModuleGrid transformGrid(const ModuleGrid& g, int quarterTurns, bool mirror) {
    ModuleGrid cur = g;
    for (int t = 0; t < ((quarterTurns % 4) + 4) % 4; ++t) {
        ModuleGrid next = cur;
        const int n = cur.size;
        // Clockwise: new (r, c) = old (n - 1 - c, r).
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c) next.modules[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = cur.at(n - 1 - c, r);
        cur = next;
    }
    if (mirror) {
        ModuleGrid next = cur;
        const int n = cur.size;
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c) next.modules[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = cur.at(r, n - 1 - c);
        cur = next;
    }
    return cur;
}

}  // namespace quarrow_test
