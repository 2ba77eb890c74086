#include "Scan.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

#include "ScanEngine.h"
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

constexpr size_t kWideChars = 4096; // characters in a full UTF-16 piece

// Rows kept back until every row before them in the file is known, in order; their texts
// share one buffer, emptied whenever the queue is.
class HeldRows {
public:
    struct Row {
        ULONGLONG at;
        size_t offset, offsetLength, text, length; // where the texts are in the buffer
    };
    bool Empty() const { return m_rows.empty(); }
    const Row& Front() const { return m_rows.front(); }
    void Push(ULONGLONG at, const char* offset, size_t offsetLength, const char* text,
              size_t length) {
        m_rows.push_back(
            Row{at, m_bytes.size(), offsetLength, m_bytes.size() + offsetLength, length});
        m_bytes.append(offset, offsetLength);
        m_bytes.append(text, length);
    }
    // Hands the first row to out and lets it go.
    template <class Out> void MoveFront(Out& out) {
        const Row& row = m_rows.front();
        out.Row(row.at, m_bytes.data() + row.offset, row.offsetLength, m_bytes.data() + row.text,
                row.length);
        m_rows.pop_front();
        if (m_rows.empty())
            m_bytes.clear();
    }

private:
    std::deque<Row> m_rows;
    std::string m_bytes;
};

// The UTF-16 rows of a scan, and their merge with the others into offset order. Blocks are
// looked at once each; a run that goes past a block's end stays open, its characters kept,
// until the block after it says where it ends. Rows go to out, which has Row(at, texts...).
template <class Out> class WideScan {
public:
    // Starts at pos, where the unit bytes right before it began at runStart (pos when none
    // did): that run is taken up where pos cuts it, its pieces cut as from its start.
    WideScan(int minLength, Out& out, ULONGLONG pos, ULONGLONG runStart)
        : m_minLength(minLength), m_out(out), m_pos(pos) {
        if (runStart >= pos)
            return;
        const ULONGLONG into = pos - runStart;
        ULONGLONG pieceStart = runStart + into / (2 * kWideChars) * (2 * kWideChars);
        const ULONGLONG next = runStart + (into + 1) / 2 * 2; // the first unit from pos on
        auto chars = static_cast<size_t>((next - pieceStart) / 2);
        if (chars == kWideChars) {
            pieceStart = next;
            chars = 0;
        }
        OpenRun(pieceStart);
        m_runNext = next;
        // The piece begun before pos is not listed here, so only its length counts.
        m_piece.assign(chars, ' ');
    }

    // Every unit starting before this has been looked at.
    ULONGLONG Position() const { return m_pos; }
    // The earliest offset a UTF-16 row still to come can have.
    ULONGLONG Earliest() const { return m_runOpen ? m_pieceStart : m_pos; }

    // The units of the block of n bytes at base, from Position() on. A unit at the block's
    // last byte is decided with the next block, unless this is the file's last.
    void Block(const textrun::BlockMasks& masks, const BYTE* block, ULONGLONG base, size_t n,
               bool last) {
        const size_t limit = last ? n : n - 1;
        if (m_pos >= base + limit)
            return;
        const textrun::WordBits units = masks.Units(), bytes = masks.UnitBytes();
        size_t p = static_cast<size_t>(m_pos - base);
        if (m_runOpen) {
            const size_t r = static_cast<size_t>(m_runNext - base);
            if (r >= limit) {
                m_pos = base + limit;
                return;
            }
            if (units.At(r) & 1) {
                const size_t end = textrun::RunEnd(bytes, r, n);
                AddChars(block, r, end);
                if (end >= limit) {
                    m_runNext = base + end;
                    m_pos = base + limit;
                    return;
                }
                p = end;
            } else {
                p = std::max(p, r);
            }
            EndRun();
        }
        // Runs too short for a row are passed over in the masks, a word at a time, except
        // one that reaches the undecided end: it may go on in the next block.
        const size_t tail =
            p < limit && (bytes.At(limit - 1) & 1) ? RunStart(bytes, limit - 1, p) : limit;
        for (;;) {
            const size_t start = LongRun(bytes, p, tail, n);
            if (start >= tail)
                break;
            const size_t end = textrun::RunEnd(bytes, start, n);
            OpenRun(base + start);
            AddChars(block, start, end);
            EndRun();
            p = end;
        }
        if (tail < limit) {
            const size_t start = std::max(tail, p);
            const size_t first = (units.At(start) & 1) ? start : start + 1;
            const size_t end = textrun::RunEnd(bytes, first, n);
            if (first < end) {
                OpenRun(base + first);
                AddChars(block, first, end);
                m_runNext = base + end;
            }
        }
        m_pos = base + limit;
    }

    // The file has ended: an open run ends with it, and every row goes out.
    void End() {
        if (m_runOpen)
            EndRun();
        Flush(~ULONGLONG(0));
    }

    // A row of the other kind, at `at`: added now when no UTF-16 row can come before it,
    // held back otherwise.
    void OtherRow(ULONGLONG at, const char* offset, size_t offsetLength, const char* text,
                  size_t length) {
        Flush(std::min(at, Earliest()));
        if (m_held.Empty() && Earliest() >= at) {
            m_out.Row(at, offset, offsetLength, text, length);
            return;
        }
        m_held.Push(at, offset, offsetLength, text, length);
    }

    // Adds, in offset order, the rows kept back that start before limit. At the same offset
    // the other kind's row goes first.
    void Flush(ULONGLONG limit) {
        for (;;) {
            const bool other = !m_held.Empty() && m_held.Front().at < limit;
            const bool wide = !m_rows.Empty() && m_rows.Front().at < limit;
            if (!other && !wide)
                return;
            (other && (!wide || m_held.Front().at <= m_rows.Front().at) ? m_held : m_rows)
                .MoveFront(m_out);
        }
    }

private:
    void OpenRun(ULONGLONG at) {
        m_runOpen = true;
        m_pieceStart = at;
        m_piece.clear();
    }

    // The first byte of the run of set bits that holds bit i, not before from; the words of
    // bits are read from the block's start.
    static size_t RunStart(const textrun::WordBits& bits, size_t i, size_t from) {
        for (;;) {
            const size_t word = i & ~size_t(63);
            // The clear bits of this word at or below i.
            const uint64_t clear = ~bits.At(word) & textrun::Below((i & 63) + 1);
            if (clear)
                return std::max(from, word + 64 - static_cast<size_t>(__builtin_clzll(clear)));
            if (word <= from)
                return from;
            i = word - 1;
        }
    }

    // The first run of unit bytes in [from, to) long enough to make a row, or to.
    size_t LongRun(const textrun::WordBits& bytes, size_t from, size_t to, size_t n) const {
        if (m_minLength > static_cast<int>(kWideChars))
            return to;
        const size_t need = 2 * static_cast<size_t>(std::max(m_minLength, 1));
        if (need > 64) {
            // A run long enough begins with 64 unit bytes in a row: only there is a run
            // measured, and shorter runs are passed over a word at a time.
            for (size_t p = from;;) {
                const size_t at = textrun::FirstStretch(bytes, p, to, 64);
                if (at >= to)
                    return to;
                const size_t end = textrun::RunEnd(bytes, at, n);
                if (end - at >= need)
                    return at;
                p = end;
            }
        }
        if (from >= to)
            return to;
        // Whole words from the one holding from, its bits before from cleared.
        size_t off = from & ~size_t(63);
        uint64_t cur = bytes.At(off) & ~textrun::Below(from - off);
        for (; off < to; off += 64) {
            const uint64_t next = bytes.At(off + 64);
            // Most words of a program hold lone units only, two bits each: a stretch of six
            // or more needs bits i, i + 2 and i + 4, which passes them over in three steps.
            if (cur &&
                (need < 6 || (cur & textrun::Shr(cur, next, 2) & textrun::Shr(cur, next, 4)))) {
                const uint64_t q = textrun::Stretches(cur, next, need) & textrun::Below(to - off);
                if (q)
                    return off + static_cast<size_t>(textrun::Ctz(q));
            }
            cur = next;
        }
        return to;
    }

    // The characters of the units at start, start + 2, ... before end.
    void AddChars(const BYTE* block, size_t start, size_t end) {
        for (size_t i = start; i < end;) {
            const size_t have = m_piece.size();
            const size_t count = std::min(kWideChars - have, (end - i) / 2);
            m_piece.resize(have + count);
            char* out = &m_piece[have];
            size_t k = 0;
#if TARNWICK_HAVE_SSE2
            // Sixteen units at a time: their second bytes are 0, so packing the 16-bit units
            // to bytes leaves the characters.
            for (; k + 16 <= count; k += 16) {
                const auto* p = reinterpret_cast<const __m128i*>(block + i + 2 * k);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k),
                                 _mm_packus_epi16(_mm_loadu_si128(p), _mm_loadu_si128(p + 1)));
            }
#endif
            for (; k < count; ++k)
                out[k] = static_cast<char>(block[i + 2 * k]);
            i += 2 * count;
            if (m_piece.size() == kWideChars) {
                PieceRow(true);
                m_pieceStart += 2 * kWideChars;
                m_piece.clear();
            }
        }
    }

    void EndRun() {
        if (!m_piece.empty())
            PieceRow(false);
        m_piece.clear();
        m_runOpen = false;
    }

    void PieceRow(bool full) {
        if (static_cast<long long>(m_piece.size()) < m_minLength)
            return;
        char digits[24];
        const int n = FormatOffset(digits, m_pieceStart);
        std::memcpy(digits + 16, "u...", 4);
        m_rows.Push(m_pieceStart, digits + 16 - n, static_cast<size_t>(n) + (full ? 4 : 1),
                    m_piece.data(), m_piece.size());
    }

    const int m_minLength;
    Out& m_out;
    ULONGLONG m_pos;
    bool m_runOpen = false;
    ULONGLONG m_runNext = 0;    // where the open run's next unit would start
    ULONGLONG m_pieceStart = 0; // the file offset of the piece's first character
    std::string m_piece;        // the characters of the open piece, fewer than kWideChars
    HeldRows m_rows;            // UTF-16 rows, in order, waiting for the rows before them
    HeldRows m_held;            // other rows waiting for UTF-16 rows before them
};

// A range's scan on one thread, into rows of type Rows. The rows are those of windows of
// kWindow bytes, each starting where the last run ended: every maximal run of printable
// bytes, cut into pieces of kWindow bytes, where a piece is a row when it is at least the
// minimum long and more than the minimum bytes of the file (counting at most kWindow) lie
// from its first byte; so only a piece that ends the file must be longer than the minimum.
// A block holds many windows, so runs are taken straight from it; only what may go on past
// the block's end is looked at again with the next.
template <class Rows> class RangeScanOf final : public RangeScan {
public:
    RangeScanOf(FileReader& file, const ScanRange& range, RunStarts starts, Rows& rows)
        : m_file(file), m_minLength(range.minLength), m_out{rows, range.begin, range.end},
          m_masks(kBlock),
          m_wide(range.utf16 ? std::make_unique<WideScan<Out>>(range.minLength, m_out, range.begin,
                                                               starts.wide)
                             : nullptr) {
        std::memcpy(m_offset + 16, "...", 3); // follows the digits of a run that fills its window
        // A run begun before the range is taken up at the start of the piece the range's
        // start lies in; that piece belongs to the range before.
        m_pos = starts.ascii + (range.begin - starts.ascii) / kWindow * kWindow;
    }

    bool Step(ULONGLONG bytes) override;
    ULONGLONG Position() const override { return m_pos; }
    ULONGLONG FileEnd() const override { return m_fileEnd; }

private:
    // The rows of the range go to the rows; the others, read to cut the range's pieces
    // right, do not.
    struct Out {
        Rows& rows;
        ULONGLONG begin, end;
        void Row(ULONGLONG at, const char* offset, size_t offsetLength, const char* text,
                 size_t length) {
            if (at - begin < end - begin)
                rows.Append(offset, offsetLength, text, length);
        }
    };

    // Lists the runs of the classified block of n bytes at base from `from` on; returns
    // where, within it, the next block starts.
    size_t BlockRows(const BYTE* block, ULONGLONG base, size_t from, size_t n, bool last);
    void AddRow(ULONGLONG at, const BYTE* text, size_t length);

    FileReader& m_file;
    const int m_minLength;
    Out m_out;
    textrun::BlockMasks m_masks;
    std::unique_ptr<WideScan<Out>> m_wide; // the UTF-16 rows, when asked for
    ULONGLONG m_pos = 0;
    bool m_ended = false;
    ULONGLONG m_fileEnd = ~ULONGLONG(0); // where the file was found to end
    char m_offset[24];                   // a row's offset text is made here
};

template <class Rows>
void RangeScanOf<Rows>::AddRow(ULONGLONG at, const BYTE* text, size_t length) {
    const int digits = FormatOffset(m_offset, at);
    const size_t len = static_cast<size_t>(digits + (length == kWindow ? 3 : 0));
    const char* chars = reinterpret_cast<const char*>(text);
    if (m_wide)
        m_wide->OtherRow(at, m_offset + 16 - digits, len, chars, length);
    else
        m_out.Row(at, m_offset + 16 - digits, len, chars, length);
}

template <class Rows>
size_t RangeScanOf<Rows>::BlockRows(const BYTE* block, ULONGLONG base, size_t from, size_t n,
                                    bool last) {
    const int minLength = m_minLength;
    const size_t reach = minLength > 0 ? static_cast<size_t>(minLength) : 0;
    const textrun::BlockMasks& masks = m_masks;
    size_t i = from; // where a piece may start
    for (;;) {
        int found = 0;
        size_t at = masks.FindRun(i, minLength, &found);
        if (at == n) {
            // A run that begins in the last bytes may still be long enough: the next
            // block starts there, or where this search began if that is later.
            return last ? n : std::max(i, n - reach);
        }
        const size_t end = at + static_cast<size_t>(found);
        for (; end - at >= kWindow; at += kWindow)
            AddRow(base + at, block + at, kWindow);
        if (end == n && !last)
            return at; // the rest of this run is read again with what follows it
        const size_t tail = end - at;
        if (tail > 0 && (end < n ? tail >= reach : tail > reach))
            AddRow(base + at, block + at, tail);
        if (end == n)
            return n;
        i = end + 1; // past the byte that ended the run
    }
}

template <class Rows> bool RangeScanOf<Rows>::Step(ULONGLONG bytes) {
    if (m_ended)
        return false;
    const bool anyRows = m_minLength < static_cast<int>(kWindow); // no piece is longer
    WideScan<Out>* wide = m_wide.get();
    constexpr bool kWide = TARNWICK_HAVE_SSE2 != 0;
    const ULONGLONG end = m_out.end;
    ULONGLONG pos = m_pos;
    const ULONGLONG stop = bytes > ~ULONGLONG(0) - pos ? ~ULONGLONG(0) : pos + bytes;
    for (;;) {
        // Past the range's end once no row of the range is still to come (a range may end
        // at the last offset there is, where no step could go further).
        if (pos >= end && (!wide || wide->Earliest() >= end)) {
            m_ended = true;
            if (wide)
                wide->End();
            break;
        }
        if (pos >= stop)
            break;
        // A block starts where the rows above go on, or a byte earlier when the UTF-16 rows
        // still have to decide about a unit at the last block's end.
        const ULONGLONG base = wide ? std::min(pos, wide->Position()) : pos;
        m_file.SeekTo(base);
        const BYTE* block;
        const size_t n = m_file.ReadView(&block, kBlock);
        if (n == 0) {
            m_ended = true;
            m_fileEnd = base;
            if (wide)
                wide->End();
            break;
        }
        // A short block is the file's last (or the last before a read error, which the next
        // read reports).
        const bool last = n < kBlock;
        const size_t from = static_cast<size_t>(pos - base);
        if (wide) {
            m_masks.ClassifyWithUnits<kWide>(block, n);
            wide->Block(m_masks, block, base, n, last);
        } else if (anyRows) {
            m_masks.Classify<kWide>(block, n);
        }
        if (anyRows)
            m_masks.MarkStretches(m_minLength);
        // Where the next block starts, within this one.
        const size_t next = anyRows ? BlockRows(block, base, from, n, last) : n;
        pos = base + next;
        m_pos = pos;
        if (wide)
            wide->Flush(std::min(pos, wide->Earliest()));
    }
    return !m_ended;
}

} // namespace

RunStarts FindRunStarts(FileReader& file, ULONGLONG at, ULONGLONG lower, bool utf16) {
    RunStarts starts{at, at};
    bool ascii = true, wide = utf16; // still being looked for
    // Walked down a stretch at a time, each classified as a block is: the last byte below
    // the top that is not printable, or not a unit byte, is where a run ends. Most runs
    // end within a few bytes, so the first stretch is short; the others are as much as one
    // read brings, so that no byte is read twice.
    textrun::BlockMasks masks(kBlock);
    ULONGLONG top = at; // the bytes below top are still to be looked at
    for (ULONGLONG stretch = 1024; (ascii || wide) && top > lower; stretch = kBlock - 2) {
        const ULONGLONG low = top - std::min(top - lower, stretch);
        // From the byte before low, for the unit that may end at low, to the byte at top,
        // for the unit that may begin right before it.
        const ULONGLONG first = low > 0 ? low - 1 : 0;
        file.SeekTo(first);
        const BYTE* bytes;
        const size_t got = file.ReadView(&bytes, static_cast<UINT>(top + 1 - first));
        if (wide)
            masks.ClassifyWithUnits<true>(bytes, got);
        else
            masks.Classify<true>(bytes, got);
        const auto from = static_cast<size_t>(low - first), to = static_cast<size_t>(top - first);
        // Where the file ends before top, no run reaches top.
        if (got < to) {
            ascii = wide = false;
            break;
        }
        if (ascii) {
            const size_t end = textrun::LastClear(masks.Printable(), from, to);
            if (end < to) {
                starts.ascii = first + end + 1;
                ascii = false;
            }
        }
        if (wide) {
            const size_t end = textrun::LastClear(masks.UnitBytes(), from, to);
            if (end < to) {
                starts.wide = first + end + 1;
                wide = false;
            }
        }
        top = low;
    }
    // A run that reaches down to lower began there, at the file's start, or further back.
    if (ascii)
        starts.ascii = lower == 0 ? 0 : kUnknownStart;
    if (wide)
        starts.wide = lower == 0 ? 0 : kUnknownStart;
    return starts;
}

std::unique_ptr<RangeScan> MakeRangeScan(FileReader& file, const ScanRange& range, RunStarts starts,
                                         Listing& rows) {
    return std::make_unique<RangeScanOf<Listing>>(file, range, starts, rows);
}

std::unique_ptr<RangeScan> MakeRangeScan(FileReader& file, const ScanRange& range, RunStarts starts,
                                         RowBatch& rows) {
    return std::make_unique<RangeScanOf<RowBatch>>(file, range, starts, rows);
}

std::unique_ptr<RangeScan> MakeRangeScan(FileReader& file, const ScanRange& range, RunStarts starts,
                                         RowSink& rows) {
    return std::make_unique<RangeScanOf<RowSink>>(file, range, starts, rows);
}

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
