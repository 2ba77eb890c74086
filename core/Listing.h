// The listing: rows of two texts (offset and run) and one mark bit each, in compact storage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Memory.h"

// Row texts live in an arena; a row is 16 bytes: where its texts are, how long they are,
// and its mark bit. Every operation on one row is constant time. Rows and texts are
// kept in large blocks that never move, so growing never copies what is there.
class Listing {
public:
    Listing() = default;
    ~Listing();
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;

    static constexpr size_t kMaxText0 = (1u << 23) - 1; // longer texts are cut
    static constexpr size_t kMaxText1 = (1u << 24) - 1;

    int Count() const { return static_cast<int>(m_count); }
    int MarkedCount() const { return m_nMarked; }
    void Clear();
    // Appends a row with column 0 text and an empty column 1.
    void Append(const char* text0, size_t len0);
    // Appends a row with both texts at once.
    void Append(const char* text0, size_t len0, const char* text1, size_t len1) {
        // Most rows fit in the blocks at hand: two copies and one row written.
        const size_t len = len0 + len1;
        if (m_rowRoom != 0 && len0 <= kMaxText0 && len1 <= kMaxText1 && len < m_textRoom) {
            if (len0) // an empty text may come without any bytes at all
                std::memcpy(m_textNext, text0, len0);
            if (len1)
                std::memcpy(m_textNext + len0, text1, len1);
            *m_rowNext++ =
                Row{m_textAt | (uint64_t(len0) << 40), (m_textAt + len0) | (uint64_t(len1) << 40)};
            --m_rowRoom;
            ++m_count;
            m_textNext += len;
            m_textRoom -= len;
            m_textAt += len;
            m_textBytes += len;
            return;
        }
        AppendSlow(text0, len0, text1, len1);
    }
    void SetText(int row, int col, const char* text, size_t len);
    const char* Text(int row, int col, size_t* len) const;
    bool Marked(int row) const { return (At(row).a >> 63) != 0; }
    void SetMarked(int row, bool mark) {
        uint64_t& a = At(row).a;
        if (((a & kMarkBit) != 0) == mark)
            return;
        a ^= kMarkBit;
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
    size_t ArenaBytes() const { return m_textBytes; }
    // The listing grows in blocks; it refuses a block (std::bad_alloc, the rows so far
    // staying whole) when its blocks would pass this many bytes, or when the block would
    // leave the process less than kMemoryHeadroom of the memory it can get.
    void SetLimit(size_t bytes) { m_limit = bytes; }
    static constexpr size_t kMemoryHeadroom = ::kMemoryHeadroom;
    static constexpr size_t RowBytes() { return sizeof(Row); }

private:
    static constexpr uint64_t kMarkBit = 1ull << 63;
    static constexpr uint64_t kOffMask = (1ull << 40) - 1;
    struct Row {
        uint64_t a; // offset of text 0 (40 bits), its length (23 bits), marked (top bit)
        uint64_t b; // offset of text 1 (40 bits), its length (24 bits)
    };
    static constexpr int kRowShift = 20;  // rows per block: 1 << kRowShift
    static constexpr int kTextShift = 24; // bytes per text block; holds the longest text
    Row& At(int row) const {
        size_t i = static_cast<size_t>(row);
        return m_rowBlocks[i >> kRowShift][i & ((size_t(1) << kRowShift) - 1)];
    }
    uint64_t Put(const char* p, size_t n);
    void* NewBlock(size_t bytes);
    void AppendSlow(const char* text0, size_t len0, const char* text1, size_t len1);
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
    // Every marked row lies in this span (it may be wider than they are).
    int m_markedFrom = 0x7fffffff;
    int m_markedTo = -1;
};
