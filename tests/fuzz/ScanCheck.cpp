#include "ScanCheck.h"

#include <cstring>

#include "ListingRule.h"
#include "MemorySource.h"
#include "Scan.h"
#include "TextRunFinder.h"

namespace {

// Mostly small minimums, where the interesting cases are; now and then any 32-bit value.
int MinimumFrom(const uint8_t* p) {
    uint32_t raw;
    std::memcpy(&raw, p, 4);
    if ((raw & 0xFF) < 0xE0)
        return static_cast<int8_t>(raw >> 8);
    if ((raw & 0xFF) < 0xF0)
        return static_cast<int>((raw >> 8) & 0x1FFF); // up to 8191
    return static_cast<int>(raw);
}

// Rows kept as they come, without a listing's large blocks: fresh memory costs the fuzzer
// more than the scan does.
struct RowsKept : RowSink {
    std::vector<ListingRow> rows;
    void Append(const char* offset, size_t offsetLen, const char* run, size_t runLen) override {
        rows.emplace_back(std::string(offset, offsetLen), std::string(run, runLen));
    }
};

std::vector<ListingRow> ScanShared(const std::string& file, const ScanSettings& settings) {
    CFile f;
    f.OpenSource(std::make_unique<SharedMemorySource>(file));
    RowsKept kept;
    ScanFile(f, settings, kept);
    return kept.rows;
}

} // namespace

std::string CheckScanInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return std::string();
    const int min = MinimumFrom(data);
    // The lowest bit asks for UTF-16 text as well.
    const bool utf16 = (data[0] & 1) != 0;
    const std::string file(reinterpret_cast<const char*>(data) + 4, size - 4);

    // The finder on the first window, from every start the first bytes allow.
    const unsigned char* w = reinterpret_cast<const unsigned char*>(file.data());
    const unsigned char* end = w + std::min<size_t>(file.size(), 4096);
    for (const unsigned char* s = w; s <= end && s < w + 8; ++s) {
        int lr = -1, lf = -1;
        const unsigned char* r = FindRunByRule(s, end, min, &lr);
        if (FindTextRun(s, end, min, &lf) != r || (r && lf != lr))
            return "run finder disagrees at start " + std::to_string(s - w) + ", minimum " +
                   std::to_string(min);
    }

    // The block finder on masks from the portable path (the scan below uses the wide one).
    const size_t whole = file.size();
    // Searched word by word, then through the marks of where long stretches begin.
    textrun::BlockMasks masks(whole);
    masks.Classify<false>(w, whole);
    for (bool marked : {false, true}) {
        if (marked)
            masks.MarkStretches(min);
        for (size_t from = 0; from <= whole && from < 8; ++from) {
            int lr = -1, lb = -1;
            const unsigned char* r = FindRunByRule(w + from, w + whole, min, &lr);
            if (masks.FindRun(from, min, &lb) != (r ? static_cast<size_t>(r - w) : whole) ||
                (r && lb != lr))
                return std::string(marked ? "marked " : "") + "block finder disagrees at start " +
                       std::to_string(from) + ", minimum " + std::to_string(min);
        }
    }

    // The masks from every vector unit the processor has, against the portable ones.
    textrun::BlockMasks portable(whole), vector(whole);
    portable.ClassifyWithUnits<false>(w, whole);
    const textrun::VectorUnit active = textrun::ActiveVectorUnit();
    for (auto unit :
         {textrun::VectorUnit::kSse2, textrun::VectorUnit::kAvx2, textrun::VectorUnit::kAvx512bw}) {
        if (!textrun::UseVectorUnit(unit))
            continue;
        vector.ClassifyWithUnits<true>(w, whole);
        for (size_t at = 0; at < whole; at += 64)
            if (portable.Units().At(at) != vector.Units().At(at) ||
                portable.UnitBytes().At(at) != vector.UnitBytes().At(at) ||
                portable.Printable().At(at) != vector.Printable().At(at))
                return "vector unit " + std::to_string(static_cast<int>(unit)) +
                       " classifies otherwise at " + std::to_string(at);
        vector.Classify<true>(w, whole);
        for (size_t at = 0; at < whole; at += 64)
            if (portable.Printable().At(at) != vector.Printable().At(at))
                return "vector unit " + std::to_string(static_cast<int>(unit)) +
                       " finds other printable bytes at " + std::to_string(at);
        // Its marks of long stretches find what the word-by-word search finds.
        vector.MarkStretches(min);
        for (size_t from = 0; from < whole; from += 1 + from / 2) {
            int lp = -1, lv = -1;
            const size_t p = portable.FindRun(from, min, &lp), v = vector.FindRun(from, min, &lv);
            if (p != v || (p < whole && lp != lv))
                return "vector unit " + std::to_string(static_cast<int>(unit)) +
                       " marks other stretches from " + std::to_string(from);
        }
    }
    textrun::UseVectorUnit(active);

    // The whole scan through a file in memory.
    CFile f;
    f.OpenSource(std::make_unique<MemorySource>(file));
    Listing listing;
    ScanFile(f, min, listing, utf16);
    const std::vector<ListingRow> got = RowsOf(listing);
    const std::vector<ListingRow> expect = ListingOf(file, min, utf16);
    if (got.size() != expect.size())
        return "scan lists " + std::to_string(got.size()) + " rows, rule " +
               std::to_string(expect.size()) + ", minimum " + std::to_string(min);
    for (size_t i = 0; i < expect.size(); ++i)
        if (got[i] != expect[i])
            return "row " + std::to_string(i) + " differs, minimum " + std::to_string(min);

    // On several threads, the file cut into small stretches.
    ScanSettings settings;
    settings.minLength = min;
    settings.utf16 = utf16;
    settings.threads = 2 + data[1] % 7;
    // At most 16 stretches, so that the fuzzer keeps its pace.
    settings.stretch =
        std::max<ULONGLONG>(1 + (data[2] | data[3] << 8) % 5000, file.size() / 16 + 1);
    if (ScanShared(file, settings) != expect)
        return "threads list other rows, " + std::to_string(settings.threads) +
               " threads, stretches of " + std::to_string(settings.stretch);
    // Two ranges joined, cut anywhere.
    const ULONGLONG cut = (data[2] * 131u + data[3] * 7u + data[1]) % (file.size() + 1);
    settings.threads = 1 + data[1] % 3;
    settings.end = cut;
    std::vector<ListingRow> joined = ScanShared(file, settings);
    settings.begin = cut;
    settings.end = ~ULONGLONG(0);
    const std::vector<ListingRow> after = ScanShared(file, settings);
    joined.insert(joined.end(), after.begin(), after.end());
    if (joined != expect)
        return "ranges cut at " + std::to_string(cut) + " join to other rows";
    return std::string();
}
