// The rows a list shows of its listing: every row, or (Marked Rows Only) the rows chosen
// when it was asked for and those a Find marked since, in listing order. A shown row is
// named by its place among the shown rows; the texts and marks are the listing's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Listing.h"

class ShownRows {
public:
    explicit ShownRows(Listing& listing) : m_listing(listing) {}

    Listing& Rows() { return m_listing; }
    const Listing& Rows() const { return m_listing; }
    // Whether only chosen rows are shown.
    bool Filtered() const { return m_filtered; }
    int Count() const { return m_filtered ? static_cast<int>(m_rows.size()) : m_listing.Count(); }
    // The listing row shown at i.
    int RowOf(int i) const {
        return m_filtered ? static_cast<int>(m_rows[static_cast<size_t>(i)]) : i;
    }
    // Where listing row `row` is shown, or else where the first shown row after it is
    // (Count() when none is).
    int IndexOf(int row) const;

    // Every row again; the chosen ones are let go.
    void ShowAll();
    // Only these listing rows (ascending, each once), in place of what was shown.
    void ShowOnly(std::vector<uint32_t> rows);
    // Adds listing rows (ascending, each once) to those shown; every row shown stays.
    void Add(const std::vector<uint32_t>& rows);

    // The listing's rows, texts and marks through the shown rows' places. While rows are
    // hidden none of them is marked: only the user's marks on shown rows and a Find, whose
    // rows are added to those shown, change marks then.
    const char* OffsetText(int i, size_t* len) const { return m_listing.OffsetText(RowOf(i), len); }
    const char* RunText(int i, size_t* len) const { return m_listing.RunText(RowOf(i), len); }
    bool Marked(int i) const { return m_listing.Marked(RowOf(i)); }
    void SetMarked(int i, bool mark) { m_listing.SetMarked(RowOf(i), mark); }
    int MarkedCount() const { return m_listing.MarkedCount(); }
    // Marks the shown rows first to last, both included.
    void MarkRange(int first, int last);
    void ClearMarks() { m_listing.ClearMarks(); }

private:
    Listing& m_listing;
    bool m_filtered = false;
    std::vector<uint32_t> m_rows; // the listing rows shown, while filtered
};

// Appends to out the marked rows of the listing from first up to (not including) last.
void CollectMarked(const Listing& listing, int first, int last, std::vector<uint32_t>* out);

// The first marked shown row in [first, last), or -1; with last below first, the last
// marked shown row in [last, first) searching down from first - 1. Either way it looks at
// no row outside the span the listing's marks may lie in.
int FindMarked(const ShownRows& shown, int first, int last);
