// The listing: rows of two texts (offset and run) and one mark bit each, in compact storage.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "CopyBytes.h"
#include "Memory.h"
#include "PagesAhead.h"
#include "RowSink.h"

// Row texts live in an arena; a row is 16 bytes: where its texts are, how long they are,
// and its mark bit. Every operation on one row is constant time. Rows and texts are
// kept in large blocks that never move, so growing never copies what is there.
// Each row has two texts: the offset as listed ("00003D...") and the run's characters.
class Listing final : public RowSink {
    // A row's words: where a text starts in the arena, then its length; the offset text's
    // word also holds the mark, in its top bit.
    static constexpr int kTextAtBits = 40;
    static constexpr int kOffsetLengthBits = 23;
    static constexpr int kRunLengthBits = 24;

public:
    Listing() = default;
    ~Listing() override;
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;

    // The longest texts a row holds; longer ones are cut to this.
    static constexpr size_t kMaxOffsetText = (size_t(1) << kOffsetLengthBits) - 1;
    static constexpr size_t kMaxRunText = (size_t(1) << kRunLengthBits) - 1;

    int Count() const { return static_cast<int>(m_count); }
    int MarkedCount() const { return m_nMarked; }
    void Clear();
    // Appends a row with its offset text and an empty run text.
    void Append(const char* offset, size_t offsetLen);
    // Appends a row with both texts at once.
    [[gnu::always_inline]] void Append(const char* offset, size_t offsetLen, const char* run,
                                       size_t runLen) override {
        // Most rows fit in the blocks at hand: two copies and one row written.
        const size_t len = offsetLen + runLen;
        if (m_rowRoom != 0 && FitsAtHand(offsetLen, runLen, m_textRoom)) {
            // (an empty text may come without any bytes at all: nothing is read then)
            CopyShort(m_textNext, offset, offsetLen);
            CopyShort(m_textNext + offsetLen, run, runLen);
            *m_rowNext++ = Row{Word(m_textAt, offsetLen), Word(m_textAt + offsetLen, runLen)};
            --m_rowRoom;
            ++m_count;
            m_textNext += len;
            m_textRoom -= len;
            m_textAt += len;
            m_textBytes += len;
            return;
        }
        AppendSlow(offset, offsetLen, run, runLen);
    }
    // Appends, from count rows whose texts lie one after another at texts (row i's offset
    // text lengths[2i] bytes long, then its run text lengths[2i + 1]), as many as the
    // blocks at hand hold, in one copy; returns how many, and their bytes in *bytes. It
    // takes no new block: 0 means the next row needs one, or is cut, so Append it.
    size_t AppendAtHand(const char* texts, const uint32_t* lengths, size_t count, size_t* bytes);
    // A row's texts are replaced; one too long is cut. The old bytes stay in the arena.
    void SetOffsetText(int row, const char* text, size_t len);
    void SetRunText(int row, const char* text, size_t len);
    // A row's texts, not ending in a zero byte: where they start, and their length in *len.
    const char* OffsetText(int row, size_t* len) const;
    const char* RunText(int row, size_t* len) const;
    bool Marked(int row) const { return (At(row).offset & kMarkBit) != 0; }
    void SetMarked(int row, bool mark) {
        uint64_t& word = At(row).offset;
        if (((word & kMarkBit) != 0) == mark)
            return;
        word ^= kMarkBit;
        if (!mark) {
            --m_nMarked;
            return;
        }
        ++m_nMarked;
        if (row < m_markedFrom)
            m_markedFrom = row;
        if (row > m_markedTo)
            m_markedTo = row;
    }
    // Marks rows first to last, both included.
    void MarkRange(int first, int last);
    // Takes every mark off: the time grows with the span of the marked rows, not the list.
    void ClearMarks();
    // Every marked row lies from MarkedFrom() to MarkedTo(), both included (the span may be
    // wider than they are); with none marked, the span is empty (MarkedFrom() > MarkedTo()).
    int MarkedFrom() const { return m_markedFrom; }
    int MarkedTo() const { return m_markedTo; }
    size_t ArenaBytes() const { return m_textBytes; }
    // The listing grows in blocks; it refuses a block (std::bad_alloc, the rows so far
    // staying whole) when its blocks would pass this many bytes, or when the block would
    // leave the process less than kMemoryHeadroom of the memory it can get.
    void SetLimit(size_t bytes) { m_limit = bytes; }
    static constexpr size_t kMemoryHeadroom = ::kMemoryHeadroom;
    static constexpr size_t RowBytes() { return sizeof(Row); }
    // Faults in, from another thread, the next pages the listing's appends will write, so
    // that they do not stop on them; false when none are near enough. Safe beside appends,
    // not beside Clear or the listing's end.
    bool ReadyAhead() { return m_ahead.ReadyOne(); }
    // Tells ReadyAhead where the appends have reached: rows appended one at a time do not.
    void FollowWriter() {
        m_ahead.SetWriter(PagesAhead::kTexts, m_textNext, m_textBytes);
        m_ahead.SetWriter(PagesAhead::kRows, reinterpret_cast<const char*>(m_rowNext),
                          m_count * sizeof(Row));
    }
    // The scan that appends has read `scanned` bytes and has `left` to go: ReadyAhead readies
    // no more than the rest is likely to fill.
    void ExpectMore(uint64_t scanned, uint64_t left) { m_ahead.SetOutlook(scanned, left); }

private:
    static constexpr uint64_t kMarkBit = uint64_t(1) << 63;
    static constexpr uint64_t kTextAtMask = (uint64_t(1) << kTextAtBits) - 1;
    static_assert(kTextAtBits + kOffsetLengthBits < 64, "the mark needs the top bit");
    static_assert(kTextAtBits + kRunLengthBits <= 64, "a run's length fits its word");
    struct Row {
        uint64_t offset; // the offset text: where, how long, and the mark
        uint64_t run;    // the run text: where, how long
    };
    static constexpr int kRowShift = 20;
    static constexpr size_t kRowsPerBlock = size_t(1) << kRowShift;
    static constexpr size_t kRowBlockBytes = kRowsPerBlock * sizeof(Row);
    static constexpr int kTextShift = 24;
    static constexpr size_t kTextBlockBytes = size_t(1) << kTextShift;
    static constexpr int kNoMarkedFrom = INT_MAX;
    static_assert(kMaxRunText < kTextBlockBytes && kMaxOffsetText < kTextBlockBytes,
                  "a text block holds the longest text");
    static constexpr uint64_t Word(uint64_t textAt, size_t len) {
        return textAt | (uint64_t(len) << kTextAtBits);
    }
    Row& At(int row) const {
        size_t i = static_cast<size_t>(row);
        return m_rowBlocks[i >> kRowShift][i & (kRowsPerBlock - 1)];
    }
    // Whether a row's texts go into the text room left as they are: within their limits, and
    // leaving a byte, so that the next text, even an empty one, starts inside the block.
    static bool FitsAtHand(size_t offsetLen, size_t runLen, size_t room) {
        return offsetLen <= kMaxOffsetText && runLen <= kMaxRunText && offsetLen + runLen < room;
    }
    const char* TextOf(uint64_t word, size_t maxLen, size_t* len) const;
    uint64_t Put(const char* p, size_t n);
    void* NewBlock(size_t bytes);
    void AppendSlow(const char* offset, size_t offsetLen, const char* run, size_t runLen);
    void Release(size_t keepBlocks);
    std::vector<Row*> m_rowBlocks;
    std::vector<char*> m_textBlocks;
    size_t m_count = 0;
    // Where the next row and text go, and how much room is left there.
    Row* m_rowNext = nullptr;
    size_t m_rowRoom = 0;
    char* m_textNext = nullptr;
    size_t m_textRoom = 0;
    uint64_t m_textAt = 0; // the arena offset of m_textNext
    size_t m_textBytes = 0;
    int m_nMarked = 0;
    size_t m_blockBytes = 0;
    size_t m_limit = SIZE_MAX;
    PagesAhead m_ahead;
    // Every marked row lies in this span (it may be wider than they are); none, an empty one.
    int m_markedFrom = kNoMarkedFrom;
    int m_markedTo = -1;
};
