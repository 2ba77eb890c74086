#include "ShownRows.h"

#include <algorithm>
#include <iterator>

int ShownRows::IndexOf(int row) const {
    if (!m_filtered)
        return std::min(std::max(row, 0), m_listing.Count());
    const auto at =
        std::lower_bound(m_rows.begin(), m_rows.end(), static_cast<uint32_t>(std::max(row, 0)));
    return static_cast<int>(at - m_rows.begin());
}

void ShownRows::ShowAll() {
    m_filtered = false;
    std::vector<uint32_t>().swap(m_rows);
}

void ShownRows::ShowOnly(std::vector<uint32_t> rows) {
    m_rows = std::move(rows);
    m_rows.shrink_to_fit();
    m_filtered = true;
}

void ShownRows::Add(const std::vector<uint32_t>& rows) {
    if (!m_filtered || rows.empty())
        return;
    std::vector<uint32_t> merged;
    merged.reserve(m_rows.size() + rows.size());
    std::set_union(m_rows.begin(), m_rows.end(), rows.begin(), rows.end(),
                   std::back_inserter(merged));
    merged.shrink_to_fit();
    m_rows.swap(merged);
}

void ShownRows::MarkRange(int first, int last) {
    if (!m_filtered) {
        m_listing.MarkRange(first, last);
        return;
    }
    first = std::max(first, 0);
    last = std::min(last, Count() - 1);
    // Shown rows that follow each other in the listing are marked as one range.
    for (int i = first; i <= last;) {
        int j = i;
        while (j < last && m_rows[static_cast<size_t>(j) + 1] == m_rows[static_cast<size_t>(j)] + 1)
            ++j;
        m_listing.MarkRange(RowOf(i), RowOf(j));
        i = j + 1;
    }
}

void CollectMarked(const Listing& listing, int first, int last, std::vector<uint32_t>* out) {
    first = std::max(first, listing.MarkedFrom());
    last = std::min(last, listing.MarkedTo() + 1);
    for (int row = first; row < last; ++row)
        if (listing.Marked(row))
            out->push_back(static_cast<uint32_t>(row));
}

int FindMarked(const ShownRows& shown, int first, int last) {
    if (shown.MarkedCount() == 0)
        return -1;
    const Listing& rows = shown.Rows();
    // The shown rows that may be marked: those of the listing's span of marks.
    const int from = shown.IndexOf(rows.MarkedFrom());
    const int to = shown.IndexOf(rows.MarkedTo() + 1);
    if (first <= last) {
        for (int i = std::max(first, from); i < std::min(last, to); ++i)
            if (shown.Marked(i))
                return i;
    } else {
        for (int i = std::min(first, to) - 1; i >= std::max(last, from); --i)
            if (shown.Marked(i))
                return i;
    }
    return -1;
}
