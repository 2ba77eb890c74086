#include "Listing.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <sys/mman.h>

#include "Memory.h"

namespace {

constexpr size_t kRowBlockBytes = (size_t(1) << 20) * 16;
constexpr size_t kTextBlockBytes = size_t(1) << 24;

// A block straight from the system: untouched pages cost nothing, and huge pages spare a
// long scan tens of thousands of page faults.
void* GetBlock(size_t bytes) {
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    ::madvise(p, bytes, MADV_HUGEPAGE);
#endif
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
    const size_t perBlock = size_t(1) << kRowShift;
    size_t added = 0;
    for (size_t i = static_cast<size_t>(first); i <= static_cast<size_t>(last);) {
        Row* rows = m_rowBlocks[i >> kRowShift];
        const size_t from = i & (perBlock - 1);
        const size_t to = std::min(perBlock, from + (static_cast<size_t>(last) + 1 - i));
        for (size_t k = from; k < to; ++k) {
            added += (rows[k].a >> 63) ^ 1;
            rows[k].a |= kMarkBit;
        }
        i += to - from;
    }
    m_nMarked += static_cast<int>(added);
    m_markedFrom = std::min(m_markedFrom, first);
    m_markedTo = std::max(m_markedTo, last);
}

void Listing::ClearMarks() {
    if (m_nMarked != 0) {
        const size_t perBlock = size_t(1) << kRowShift;
        const size_t last = static_cast<size_t>(std::min(m_markedTo, Count() - 1));
        for (size_t i = static_cast<size_t>(m_markedFrom); i <= last;) {
            Row* rows = m_rowBlocks[i >> kRowShift];
            const size_t from = i & (perBlock - 1);
            const size_t to = std::min(perBlock, from + (last + 1 - i));
            for (size_t k = from; k < to; ++k)
                rows[k].a &= ~kMarkBit;
            i += to - from;
        }
    }
    m_nMarked = 0;
    m_markedFrom = 0x7fffffff;
    m_markedTo = -1;
}

void Listing::Clear() {
    // The first blocks stay for the next scan; a large list gives the rest back.
    Release(1);
    m_count = 0;
    m_rowNext = m_rowBlocks.empty() ? nullptr : m_rowBlocks[0];
    m_rowRoom = m_rowBlocks.empty() ? 0 : size_t(1) << kRowShift;
    m_textNext = m_textBlocks.empty() ? nullptr : m_textBlocks[0];
    m_textRoom = m_textBlocks.empty() ? 0 : kTextBlockBytes;
    m_textAt = 0;
    m_textBytes = 0;
    m_nMarked = 0;
    m_markedFrom = 0x7fffffff;
    m_markedTo = -1;
}

uint64_t Listing::Put(const char* p, size_t n) {
    // Every text, even an empty one, starts inside a block, so that its offset names the
    // block it is in.
    if (m_textRoom < n || m_textRoom == 0) {
        m_textBlocks.reserve(m_textBlocks.size() + 1); // so that the push cannot fail
        m_textBlocks.push_back(static_cast<char*>(NewBlock(kTextBlockBytes)));
        m_textNext = m_textBlocks.back();
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

void Listing::Append(const char* text0, size_t len0) {
    Append(text0, len0, "", 0);
}

void Listing::AppendSlow(const char* text0, size_t len0, const char* text1, size_t len1) {
    if (len0 > kMaxText0)
        len0 = kMaxText0;
    if (len1 > kMaxText1)
        len1 = kMaxText1;
    if (m_rowRoom == 0) {
        const size_t block = m_count >> kRowShift;
        if (block >= m_rowBlocks.size()) {
            m_rowBlocks.reserve(m_rowBlocks.size() + 1);
            m_rowBlocks.push_back(static_cast<Row*>(NewBlock(kRowBlockBytes)));
        }
        m_rowNext = m_rowBlocks[block];
        m_rowRoom = size_t(1) << kRowShift;
    }
    const uint64_t off0 = Put(text0, len0);
    const uint64_t off1 = Put(text1, len1);
    *m_rowNext++ = Row{off0 | (uint64_t(len0) << 40), off1 | (uint64_t(len1) << 40)};
    --m_rowRoom;
    ++m_count;
}

void Listing::SetText(int row, int col, const char* text, size_t len) {
    Row& r = At(row);
    if (col == 0) {
        if (len > kMaxText0)
            len = kMaxText0;
        const uint64_t off = Put(text, len);
        r.a = (r.a & kMarkBit) | (off & kOffMask) | (uint64_t(len) << 40);
    } else {
        if (len > kMaxText1)
            len = kMaxText1;
        const uint64_t off = Put(text, len);
        r.b = (off & kOffMask) | (uint64_t(len) << 40);
    }
}

const char* Listing::Text(int row, int col, size_t* len) const {
    const Row& r = At(row);
    const uint64_t w = col == 0 ? r.a : r.b;
    *len = col == 0 ? static_cast<size_t>((w >> 40) & kMaxText0)
                    : static_cast<size_t>((w >> 40) & kMaxText1);
    const uint64_t off = w & kOffMask;
    return m_textBlocks.empty() ? ""
                                : m_textBlocks[off >> kTextShift] + (off & (kTextBlockBytes - 1));
}
