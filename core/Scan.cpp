#include "Scan.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "TextRunFinder.h"

namespace {

constexpr UINT kWindow = 4096;
// Bytes looked at in one go; a block holds many windows.
constexpr UINT kBlock = CFile::kMaxView;

// "%06X" of a 64-bit offset, written into the 16 bytes at out so that it ends at out + 16;
// returns the number of digits. All sixteen digits are made at once.
int FormatOffset(char* out, ULONGLONG pos) {
    const int bits = 64 - __builtin_clzll(pos | 1);
    const int n = bits > 24 ? (bits + 3) / 4 : 6;
#if TARNWICK_HAVE_SSE2
    // One byte per digit, most significant first: each byte's high nibble, then its low one.
    const uint64_t msbFirst = __builtin_bswap64(pos);
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&msbFirst));
    const __m128i low4 = _mm_set1_epi8(0x0F);
    const __m128i nibbles = _mm_unpacklo_epi8(_mm_and_si128(_mm_srli_epi64(bytes, 4), low4),
                                              _mm_and_si128(bytes, low4));
    // '0' + d, and 7 more for the letters A to F.
    const __m128i letters =
        _mm_and_si128(_mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9)), _mm_set1_epi8(7));
    const __m128i text = _mm_add_epi8(_mm_add_epi8(nibbles, _mm_set1_epi8('0')), letters);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), text);
#else
    for (int i = 15; i >= 0; --i, pos >>= 4)
        out[i] = "0123456789ABCDEF"[pos & 15];
#endif
    return n;
}

} // namespace

const BYTE* FindTextRun(const BYTE* start, const BYTE* end, int minLength, int* length) {
    if (end <= start)
        return nullptr;
    // The window goes through the same classification and search as a block of the scan;
    // the masks of a window are kept from call to call.
    const size_t n = static_cast<size_t>(end - start);
    thread_local textrun::BlockMasks window(kWindow);
    std::unique_ptr<textrun::BlockMasks> larger;
    textrun::BlockMasks* masks = &window;
    if (n > kWindow) {
        larger = std::make_unique<textrun::BlockMasks>(n);
        masks = larger.get();
    }
    masks->Classify<TARNWICK_HAVE_SSE2 != 0>(start, n);
    const size_t at = masks->FindRun(0, minLength, length);
    return at < n ? start + at : nullptr;
}

FileScan::FileScan(CFile& file, int minLength, Listing& listing)
    : m_file(file), m_minLength(minLength), m_listing(listing),
      m_masks(std::make_unique<textrun::BlockMasks>(kBlock)) {}

FileScan::~FileScan() = default;

bool FileScan::Step(ULONGLONG bytes) {
    // The rows are those of windows of kWindow bytes, each starting where the last run ended:
    // every maximal run of printable bytes, cut into pieces of kWindow bytes, where a piece is
    // a row when it is at least the minimum long and more than the minimum bytes of the file
    // (counting at most kWindow) lie from its first byte; so only a piece that ends the file
    // must be longer than the minimum. A block holds many windows, so runs are taken straight
    // from it; only what may go on past the block's end is looked at again with the next.
    if (m_ended)
        return false;
    const int minLength = m_minLength;
    Listing& listing = m_listing;
    textrun::BlockMasks& masks = *m_masks;
    const bool anyRows = minLength < static_cast<int>(kWindow); // no piece is longer
    const size_t reach = minLength > 0 ? static_cast<size_t>(minLength) : 0;
    char offset[24];
    std::memcpy(offset + 16, "...", 3); // follows the digits of a run that fills its window
    auto addRow = [&](ULONGLONG at, const BYTE* text, size_t length) {
        const int digits = FormatOffset(offset, at);
        const int len = digits + (length == kWindow ? 3 : 0);
        listing.Append(offset + 16 - digits, static_cast<size_t>(len),
                       reinterpret_cast<const char*>(text), length);
    };

    constexpr bool kWide = TARNWICK_HAVE_SSE2 != 0;
    ULONGLONG pos = m_pos;
    const ULONGLONG stop = bytes > ~ULONGLONG(0) - pos ? ~ULONGLONG(0) : pos + bytes;
    while (pos < stop) {
        m_file.Seek(static_cast<LONGLONG>(pos));
        const BYTE* block;
        const size_t n = m_file.ReadView(&block, kBlock);
        if (n == 0) {
            m_ended = true;
            break;
        }
        // A short block is the file's last (or the last before a read error, which the next
        // read reports).
        const bool last = n < kBlock;
        size_t next = n; // where the next block starts, within this one
        size_t i = 0;    // where a piece may start
        if (anyRows)
            masks.Classify<kWide>(block, n);
        while (anyRows) {
            int found = 0;
            size_t at = masks.FindRun(i, minLength, &found);
            if (at == n) {
                // A run that begins in the last bytes may still be long enough: the next
                // block starts there, or where this search began if that is later.
                if (!last)
                    next = std::max(i, n - reach);
                break;
            }
            const size_t end = at + static_cast<size_t>(found);
            for (; end - at >= kWindow; at += kWindow)
                addRow(pos + at, block + at, kWindow);
            if (end == n && !last) {
                next = at; // the rest of this run is read again with what follows it
                break;
            }
            const size_t tail = end - at;
            if (tail > 0 && (end < n ? tail >= reach : tail > reach))
                addRow(pos + at, block + at, tail);
            if (end == n)
                break;
            i = end + 1; // past the byte that ended the run
        }
        pos += next;
        m_pos = pos;
    }
    return !m_ended;
}

void ScanFile(CFile& file, int minLength, Listing& listing) {
    FileScan scan(file, minLength, listing);
    while (scan.Step(~ULONGLONG(0))) {
    }
}
