#include "RowSelection.h"

#include <algorithm>

#include "ShownRows.h"

void RowSelection::SetListing(ShownRows* rows) {
    m_listing = rows;
    RowsReset();
}

int RowSelection::Count() const {
    return m_listing ? m_listing->Count() : 0;
}

bool RowSelection::SetCurrent(int row) {
    if (row < -1 || row >= Count())
        return false;
    m_current = row;
    return true;
}

void RowSelection::RowsChanged() {
    const int n = Count();
    if (m_current >= n)
        m_current = -1;
    if (m_anchor >= n)
        m_anchor = -1;
}

void RowSelection::RowsReset() {
    m_current = -1;
    m_anchor = -1;
}

void RowSelection::Reposition(int current, int anchor) {
    const int n = Count();
    m_current = current >= 0 && current < n ? current : -1;
    m_anchor = anchor >= 0 && anchor < n ? anchor : -1;
    m_dragging = false;
}

bool RowSelection::ChangeMarks(Change how, int first, int last) {
    if (m_locked || !m_listing)
        return false;
    ShownRows& rows = *m_listing;
    switch (how) {
    case Change::Only:
        rows.ClearMarks();
        rows.MarkRange(std::min(first, last), std::max(first, last));
        break;
    case Change::Add:
        rows.MarkRange(std::min(first, last), std::max(first, last));
        break;
    case Change::Toggle:
        rows.SetMarked(first, !rows.Marked(first));
        break;
    case Change::Set:
    case Change::Unset:
        rows.SetMarked(first, how == Change::Set);
        break;
    case Change::ClearAll:
        rows.ClearMarks();
        break;
    }
    return true;
}

void RowSelection::Click(int row, unsigned modifiers) {
    if (!m_listing)
        return;
    if (row < 0 || row >= Count()) {
        // As a click on nothing does; with Ctrl or Shift it leaves the marks, and the
        // range's start, as they are.
        if (!(modifiers & (kShift | kCtrl)) && ChangeMarks(Change::ClearAll))
            m_anchor = -1;
        return;
    }
    if (modifiers & kShift) {
        // With no range begun yet, it begins at the cursor.
        if (m_anchor < 0)
            m_anchor = m_current >= 0 ? m_current : row;
        ChangeMarks(modifiers & kCtrl ? Change::Add : Change::Only, m_anchor, row);
    } else {
        ChangeMarks(modifiers & kCtrl ? Change::Toggle : Change::Only, row, row);
        m_anchor = row;
    }
    m_dragging = true;
    m_current = row;
}

bool RowSelection::Dragging() const {
    return m_dragging && m_anchor >= 0 && m_anchor < Count();
}

void RowSelection::DragTo(int row) {
    if (!Dragging())
        return;
    row = std::clamp(row, 0, Count() - 1);
    ChangeMarks(Change::Only, m_anchor, row);
    m_current = row;
}

bool RowSelection::Move(Step step, int pageRows, unsigned modifiers) {
    const int n = Count();
    if (!n)
        return false;
    const int before = m_current;
    // With no cursor yet, every step but End starts at the first row.
    int after = 0;
    switch (step) {
    case Step::Up:
        after = before < 0 ? 0 : before - 1;
        break;
    case Step::Down:
        after = before < 0 ? 0 : before + 1;
        break;
    case Step::PageUp:
        after = before < 0 ? 0 : before - pageRows;
        break;
    case Step::PageDown:
        after = before < 0 ? 0 : before + pageRows;
        break;
    case Step::Home:
        break;
    case Step::End:
        after = n - 1;
        break;
    }
    after = std::clamp(after, 0, n - 1);
    if (after == before)
        return false;
    m_current = after;
    if (modifiers & kShift) {
        // With no range begun yet (after a Ctrl move, or a click below the rows), it
        // begins where the cursor was.
        if (m_anchor < 0)
            m_anchor = before >= 0 ? before : after;
        ChangeMarks(modifiers & kCtrl ? Change::Add : Change::Only, m_anchor, after);
    } else if (!(modifiers & kCtrl)) {
        m_anchor = after;
        ChangeMarks(Change::Only, after, after);
    }
    return true;
}

void RowSelection::Space(unsigned modifiers) {
    if (m_current < 0)
        return;
    ChangeMarks(modifiers & kCtrl ? Change::Toggle : Change::Only, m_current, m_current);
    m_anchor = m_current;
}

void RowSelection::MarkAll() {
    if (Count())
        ChangeMarks(Change::Add, 0, Count() - 1);
}

bool RowSelection::Mark(int row, bool mark) {
    if (row < 0 || row >= Count())
        return false;
    return ChangeMarks(mark ? Change::Set : Change::Unset, row, row);
}
