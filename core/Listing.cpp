#include "Listing.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <sys/mman.h>

#include "Memory.h"

namespace {

// A block straight from the system: untouched pages cost nothing. Not in huge pages: a huge
// page the system has to find and clear costs more than the faults it spares (twice to four
// times a scan's time, measured, when the program has not run for a few seconds).
void* GetBlock(size_t bytes) {
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    return p;
}

void FreeBlock(void* p, size_t bytes) {
    ::munmap(p, bytes);
}

} // namespace

Listing::~Listing() {
    Release(0);
}

void Listing::Release(size_t keepBlocks) {
    m_ahead.Forget();
    while (m_rowBlocks.size() > keepBlocks) {
        FreeBlock(m_rowBlocks.back(), kRowBlockBytes);
        m_rowBlocks.pop_back();
        m_blockBytes -= kRowBlockBytes;
    }
    while (m_textBlocks.size() > keepBlocks) {
        FreeBlock(m_textBlocks.back(), kTextBlockBytes);
        m_textBlocks.pop_back();
        m_blockBytes -= kTextBlockBytes;
    }
}

void* Listing::NewBlock(size_t bytes) {
    // Stopping while there is memory to spare lets the window go on with the rows so far,
    // where a failed allocation elsewhere, or the kernel's out-of-memory killer, would not.
    if (m_blockBytes + bytes > m_limit || !MemoryAllows(bytes))
        throw std::bad_alloc();
    void* block = GetBlock(bytes);
    m_blockBytes += bytes;
    return block;
}

void Listing::MarkRange(int first, int last) {
    if (first < 0)
        first = 0;
    if (last >= Count())
        last = Count() - 1;
    if (first > last)
        return;
    // Block by block, so that the loop is a plain walk over rows in memory.
    size_t added = 0;
    for (size_t i = static_cast<size_t>(first); i <= static_cast<size_t>(last);) {
        Row* rows = m_rowBlocks[i >> kRowShift];
        const size_t from = i & (kRowsPerBlock - 1);
        const size_t to = std::min(kRowsPerBlock, from + (static_cast<size_t>(last) + 1 - i));
        for (size_t k = from; k < to; ++k) {
            added += (rows[k].offset & kMarkBit) == 0;
            rows[k].offset |= kMarkBit;
        }
        i += to - from;
    }
    m_nMarked += static_cast<int>(added);
    m_markedFrom = std::min(m_markedFrom, first);
    m_markedTo = std::max(m_markedTo, last);
}

void Listing::ClearMarks() {
    if (m_nMarked != 0) {
        const size_t last = static_cast<size_t>(std::min(m_markedTo, Count() - 1));
        for (size_t i = static_cast<size_t>(m_markedFrom); i <= last;) {
            Row* rows = m_rowBlocks[i >> kRowShift];
            const size_t from = i & (kRowsPerBlock - 1);
            const size_t to = std::min(kRowsPerBlock, from + (last + 1 - i));
            for (size_t k = from; k < to; ++k)
                rows[k].offset &= ~kMarkBit;
            i += to - from;
        }
    }
    m_nMarked = 0;
    m_markedFrom = kNoMarkedFrom;
    m_markedTo = -1;
}

void Listing::Clear() {
    // The first blocks stay for the next scan; a large list gives the rest back.
    Release(1);
    m_count = 0;
    m_rowNext = m_rowBlocks.empty() ? nullptr : m_rowBlocks[0];
    m_rowRoom = m_rowBlocks.empty() ? 0 : kRowsPerBlock;
    m_textNext = m_textBlocks.empty() ? nullptr : m_textBlocks[0];
    m_textRoom = m_textBlocks.empty() ? 0 : kTextBlockBytes;
    m_textAt = 0;
    m_textBytes = 0;
    m_nMarked = 0;
    m_markedFrom = kNoMarkedFrom;
    m_markedTo = -1;
}

uint64_t Listing::Put(const char* p, size_t n) {
    // Every text, even an empty one, starts inside a block, so that its offset names the
    // block it is in.
    if (m_textRoom < n || m_textRoom == 0) {
        m_textBlocks.reserve(m_textBlocks.size() + 1); // so that the push cannot fail
        m_textBlocks.push_back(static_cast<char*>(NewBlock(kTextBlockBytes)));
        m_textNext = m_textBlocks.back();
        m_ahead.SetBlock(PagesAhead::kTexts, m_textNext, kTextBlockBytes);
        m_textRoom = kTextBlockBytes;
        m_textAt = uint64_t(m_textBlocks.size() - 1) << kTextShift;
    }
    const uint64_t off = m_textAt;
    if (n)
        std::memcpy(m_textNext, p, n);
    m_textNext += n;
    m_textRoom -= n;
    m_textAt += n;
    m_textBytes += n;
    return off;
}

void Listing::Append(const char* offset, size_t offsetLen) {
    Append(offset, offsetLen, "", 0);
}

void Listing::AppendSlow(const char* offset, size_t offsetLen, const char* run, size_t runLen) {
    offsetLen = std::min(offsetLen, kMaxOffsetText);
    runLen = std::min(runLen, kMaxRunText);
    if (m_rowRoom == 0) {
        const size_t block = m_count >> kRowShift;
        if (block >= m_rowBlocks.size()) {
            m_rowBlocks.reserve(m_rowBlocks.size() + 1);
            m_rowBlocks.push_back(static_cast<Row*>(NewBlock(kRowBlockBytes)));
        }
        m_rowNext = m_rowBlocks[block];
        m_rowRoom = kRowsPerBlock;
        m_ahead.SetBlock(PagesAhead::kRows, reinterpret_cast<char*>(m_rowNext), kRowBlockBytes);
    }
    const uint64_t offsetAt = Put(offset, offsetLen);
    const uint64_t runAt = Put(run, runLen);
    *m_rowNext++ = Row{Word(offsetAt, offsetLen), Word(runAt, runLen)};
    --m_rowRoom;
    ++m_count;
}

size_t Listing::AppendAtHand(const char* texts, const uint32_t* lengths, size_t count,
                             size_t* bytes) {
    // The rows that fit, each as Append takes it at once.
    size_t n = 0, total = 0;
    const size_t most = std::min(count, m_rowRoom);
    for (; n < most; ++n) {
        const size_t offsetLen = lengths[2 * n], runLen = lengths[2 * n + 1];
        if (!FitsAtHand(offsetLen, runLen, m_textRoom - total))
            break;
        total += offsetLen + runLen;
    }
    *bytes = total;
    if (n == 0)
        return 0;
    std::memcpy(m_textNext, texts, total);
    uint64_t at = m_textAt;
    for (size_t i = 0; i < n; ++i) {
        const size_t offsetLen = lengths[2 * i], runLen = lengths[2 * i + 1];
        m_rowNext[i] = Row{Word(at, offsetLen), Word(at + offsetLen, runLen)};
        at += offsetLen + runLen;
    }
    m_rowNext += n;
    m_rowRoom -= n;
    m_count += n;
    m_textNext += total;
    m_textRoom -= total;
    m_textAt += total;
    m_textBytes += total;
    FollowWriter();
    return n;
}

void Listing::SetOffsetText(int row, const char* text, size_t len) {
    len = std::min(len, kMaxOffsetText);
    const uint64_t at = Put(text, len);
    uint64_t& word = At(row).offset;
    word = (word & kMarkBit) | Word(at & kTextAtMask, len);
}

void Listing::SetRunText(int row, const char* text, size_t len) {
    len = std::min(len, kMaxRunText);
    const uint64_t at = Put(text, len);
    At(row).run = Word(at & kTextAtMask, len);
}

const char* Listing::TextOf(uint64_t word, size_t maxLen, size_t* len) const {
    *len = static_cast<size_t>(word >> kTextAtBits) & maxLen;
    const uint64_t at = word & kTextAtMask;
    return m_textBlocks.empty() ? ""
                                : m_textBlocks[at >> kTextShift] + (at & (kTextBlockBytes - 1));
}

const char* Listing::OffsetText(int row, size_t* len) const {
    return TextOf(At(row).offset, kMaxOffsetText, len);
}

const char* Listing::RunText(int row, size_t* len) const {
    return TextOf(At(row).run, kMaxRunText, len);
}
