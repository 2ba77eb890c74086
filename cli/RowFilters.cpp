#include "RowFilters.h"

#include "Results.h"
#include "RowWriter.h"

namespace {

// A batch's bounds: enough rows that a search's set-up costs nothing beside it, few enough
// texts that they stay in the listing's first block and are never given back and taken anew.
constexpr int kBatchRows = 1 << 16;
constexpr size_t kBatchText = size_t(8) << 20;

} // namespace

void MatchingRows::Append(const char* offset, size_t offsetLen, const char* run, size_t runLen) {
    m_batch.Append(offset, offsetLen, run, runLen);
    if (m_batch.Count() >= kBatchRows || m_batch.ArenaBytes() >= kBatchText)
        Drain();
}

void MatchingRows::Drain() {
    if (m_pattern)
        m_pattern->MarkIn(m_batch);
    else
        MarkRowsContaining(m_batch, m_needle);
    const int last = m_batch.MarkedTo();
    for (int i = m_batch.MarkedFrom(); i <= last; ++i) {
        if (!m_batch.Marked(i))
            continue;
        size_t offsetLen, runLen;
        const char* offset = m_batch.OffsetText(i, &offsetLen);
        const char* run = m_batch.RunText(i, &runLen);
        m_out.Append(offset, offsetLen, run, runLen);
    }
    m_batch.Clear();
}

void RowsFrom::Append(const char* offset, size_t offsetLen, const char* run, size_t runLen) {
    if (!m_reached) {
        if (OffsetOf(offset, offsetLen) < m_begin)
            return;
        m_reached = true;
    }
    m_out.Append(offset, offsetLen, run, runLen);
}
