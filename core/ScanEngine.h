// The scan's pieces shared by its one-thread and many-thread forms: the scan of one range of
// a file on one thread, where the runs around the range's start begin, and the rows a thread
// keeps until the rows before them are in.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FileReader.h"
#include "Listing.h"
#include "RowSink.h"

// Rows kept together, their texts in one buffer, until they can go where they belong.
class RowBatch {
public:
    void Append(const char* offset, size_t offsetLen, const char* run, size_t runLen) {
        m_rows.push_back(Lengths{static_cast<uint32_t>(offsetLen), static_cast<uint32_t>(runLen)});
        m_bytes.append(offset, offsetLen);
        m_bytes.append(run, runLen);
    }
    // Appends every row to rows, in order, and empties the batch. Should rows throw, those
    // appended stay there and the rest stay here.
    template <class Rows> void MoveTo(Rows& rows) {
        const char* p = m_bytes.data();
        for (; m_moved < m_rows.size(); ++m_moved) {
            const Lengths row = m_rows[m_moved];
            rows.Append(p + m_at, row.offset, p + m_at + row.offset, row.run);
            m_at += size_t(row.offset) + row.run;
        }
        Clear();
    }
    void Clear() {
        m_rows.clear();
        m_bytes.clear();
        m_moved = m_at = 0;
    }

private:
    struct Lengths {
        uint32_t offset, run;
    };
    std::vector<Lengths> m_rows;
    std::string m_bytes;
    size_t m_moved = 0, m_at = 0; // the rows moved out so far, and where the next one's texts are
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
};

std::unique_ptr<RangeScan> MakeRangeScan(FileReader& file, const ScanRange& range, RunStarts starts,
                                         Listing& rows);
std::unique_ptr<RangeScan> MakeRangeScan(FileReader& file, const ScanRange& range, RunStarts starts,
                                         RowBatch& rows);
std::unique_ptr<RangeScan> MakeRangeScan(FileReader& file, const ScanRange& range, RunStarts starts,
                                         RowSink& rows);
