// The scan's pieces shared by its one-thread and many-thread forms: the scan of one range of
// a file on one thread, where the runs around the range's start begin, and the rows a thread
// keeps until the rows before them are in.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "CopyBytes.h"
#include "FileReader.h"
#include "Listing.h"
#include "RowSink.h"

// Bytes that grow at the end, in memory straight from the system, moved by the system when
// they grow rather than copied: a thread's batches fill and empty again and again in the
// same pages.
class GrowingBytes {
public:
    GrowingBytes() = default;
    ~GrowingBytes();
    GrowingBytes(const GrowingBytes&) = delete;
    GrowingBytes& operator=(const GrowingBytes&) = delete;
    char* Data() const { return m_data; }
    size_t Size() const { return m_size; }
    void Clear() { m_size = 0; }
    // Empties it and gives its memory back.
    void Release();
    // Room for n more bytes at the end, which the caller then writes; throws std::bad_alloc.
    char* Extend(size_t n) {
        if (n > m_capacity - m_size)
            Grow(n);
        char* at = m_data + m_size;
        m_size += n;
        return at;
    }

private:
    void Grow(size_t n);
    char* m_data = nullptr;
    size_t m_size = 0, m_capacity = 0;
};

// Rows kept together, their texts in one buffer, until they can go where they belong.
class RowBatch {
public:
    void Append(const char* offset, size_t offsetLen, const char* run, size_t runLen) {
        if (m_straight) {
            m_straight->Append(offset, offsetLen, run, runLen);
            return;
        }
        // The texts first: a row is counted only once its texts are in, so that a batch
        // that ran out of room holds whole rows only.
        char* text = m_bytes.Extend(offsetLen + runLen);
        CopyShort(text, offset, offsetLen);
        CopyShort(text + offsetLen, run, runLen);
        const Lengths lengths{static_cast<uint32_t>(offsetLen), static_cast<uint32_t>(runLen)};
        std::memcpy(m_rows.Extend(sizeof lengths), &lengths, sizeof lengths);
    }
    // Appends every row to rows, in order, and empties the batch. Should rows throw, those
    // appended stay there and the rest stay here.
    template <class Rows> void MoveTo(Rows& rows) {
        const char* p = m_bytes.Data();
        const size_t count = m_rows.Size() / sizeof(Lengths);
        while (m_moved < count) {
            size_t bytes = 0;
            const size_t n = AtHand(rows, count, &bytes);
            if (n > 0) {
                m_moved += n;
                m_at += bytes;
                continue;
            }
            Lengths row;
            std::memcpy(&row, m_rows.Data() + m_moved * sizeof row, sizeof row);
            rows.Append(p + m_at, row.offset, p + m_at + row.offset, row.run);
            m_at += size_t(row.offset) + row.run;
            ++m_moved;
        }
        Clear();
    }
    void Clear() {
        m_rows.Clear();
        m_bytes.Clear();
        m_moved = m_at = 0;
    }
    // While set, rows go straight into the listing instead of into the batch: the batch's
    // turn has come and it is empty. Null sends them to the batch again.
    void SendStraightTo(Listing* listing) { m_straight = listing; }
    // Clear, and the memory given back.
    void Release() {
        Clear();
        m_rows.Release();
        m_bytes.Release();
    }

private:
    struct Lengths {
        uint32_t offset, run;
    };
    static_assert(sizeof(Lengths) == 2 * sizeof(uint32_t), "a row's lengths are two words");
    // The listing takes the rows its blocks have room for in one copy; other rows one by one.
    size_t AtHand(Listing& rows, size_t count, size_t* bytes) const {
        uint32_t lengths[2 * kAtHand];
        const size_t n = std::min(count - m_moved, kAtHand);
        std::memcpy(lengths, m_rows.Data() + m_moved * sizeof(Lengths), n * sizeof(Lengths));
        return rows.AppendAtHand(m_bytes.Data() + m_at, lengths, n, bytes);
    }
    template <class Rows> size_t AtHand(Rows&, size_t, size_t*) const { return 0; }
    static constexpr size_t kAtHand = 1024;
    GrowingBytes m_rows; // the Lengths of each row
    GrowingBytes m_bytes;
    size_t m_moved = 0, m_at = 0; // the rows moved out so far, and where the next one's texts are
    Listing* m_straight = nullptr;
};

// Where the runs that reach up to a place in the file begin: `ascii`, the first of the
// printable bytes right before it; `wide`, the first of the UTF-16 unit bytes right before
// it. Either is the place itself when the byte before it is not one, and kUnknownStart when
// it was not looked for that far back.
struct RunStarts {
    ULONGLONG ascii, wide;
};
constexpr ULONGLONG kUnknownStart = ~ULONGLONG(0);

// The run starts at `at`, looked for down to `lower` and no further (down to 0, they are
// always found).
RunStarts FindRunStarts(FileReader& file, ULONGLONG at, ULONGLONG lower, bool utf16);

// What one thread lists: the rows of a range, by the scan's rule.
struct ScanRange {
    int minLength;
    bool utf16;
    ULONGLONG begin, end;
};

// The scan of a range on one thread, in steps, from the run starts at the range's begin.
class RangeScan {
public:
    virtual ~RangeScan() = default;
    // Scans on until at least `bytes` more are read or the range's rows are all out; false
    // once they are.
    virtual bool Step(ULONGLONG bytes) = 0;
    // Every row before this is out.
    virtual ULONGLONG Position() const = 0;
    // Where the scan found the file to end, if it read that far.
    virtual ULONGLONG FileEnd() const = 0;
};

std::unique_ptr<RangeScan> MakeRangeScan(FileReader& file, const ScanRange& range, RunStarts starts,
                                         Listing& rows);
std::unique_ptr<RangeScan> MakeRangeScan(FileReader& file, const ScanRange& range, RunStarts starts,
                                         RowBatch& rows);
std::unique_ptr<RangeScan> MakeRangeScan(FileReader& file, const ScanRange& range, RunStarts starts,
                                         RowSink& rows);
