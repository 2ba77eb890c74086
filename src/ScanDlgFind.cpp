// Find, stepping through the marked rows, and showing the marked rows only.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "PromptDlg.h"
#include "Results.h"
#include "RowPattern.h"
#include "ScanDlg.h"
#include "resource.h"

namespace {
// Rows searched between two looks at the window: a few milliseconds of work.
constexpr int kFindStep = 1 << 18;
// Rows looked at for a mark between two looks at the window.
constexpr int kMarkStep = 1 << 20;
} // namespace

void CScanDlg::OnEditFind() {
    CPromptDlg dlg(this);
    dlg.m_strPrompt = "Text to find?";
    dlg.m_strValue = m_strLastFind;
    if (dlg.DoModal() != IDOK)
        return;
    m_strLastFind = dlg.m_strValue;
    // A regular expression is kept as typed: upper case would change what it means (\d is
    // not \D).
    if (!m_bRegex)
        m_strLastFind.MakeUpper();
    const int count = m_list.Rows().Count();
    if (count <= 0) {
        AfxMessageBox(this, "Text Not Found", MB_OK);
        return;
    }
    std::unique_ptr<RowPattern> pattern;
    if (m_bRegex) {
        std::string reason;
        pattern = RowPattern::Compile(m_strLastFind.Str(), &reason);
        if (!pattern) {
            const std::string text = "Not a regular expression: " + reason;
            AfxMessageBox(this, text.c_str(), MB_OK | MB_ICONEXCLAMATION);
            return;
        }
    }
    // While only some rows are shown, the rows Find newly marks are shown too.
    const bool filtered = m_list.Shown().Filtered();
    std::vector<uint32_t> added;
    bool found = false;
    bool stopped = false;
    {
        // The rows go in steps: between them the window answers and Stop is heard. A stopped
        // Find keeps the marks it made.
        WorkScope work(*this, static_cast<ULONGLONG>(count));
        for (int first = 0; first < count && !stopped; first += kFindStep) {
            const int last = std::min(count, first + kFindStep);
            m_list.ChangeRows([&](Listing& rows) {
                std::vector<uint32_t>* newly = filtered ? &added : nullptr;
                found |= pattern ? pattern->MarkIn(rows, first, last, newly)
                                 : MarkRowsContaining(rows, m_strLastFind, first, last, newly);
            });
            stopped = last < count && WorkProgress(static_cast<ULONGLONG>(last));
        }
    }
    m_list.AddShown(added);
    if (!found && !stopped)
        AfxMessageBox(this, "Text Not Found", MB_OK);
}

int CScanDlg::NextMarkedRow(bool forward) {
    const ShownRows& shown = m_list.Shown();
    const int n = shown.Count();
    if (n == 0 || shown.MarkedCount() == 0)
        return -1;
    const int focus = m_list.GetFocusRow();
    // Two stretches in turn: from the focus row to the end, then round from the start to
    // the focus row itself. A stretch (a, b) with b below a is searched downwards in [b, a).
    const int from = forward ? focus + 1 : (focus < 0 ? n : focus);
    const std::pair<int, int> stretches[2] = {
        forward ? std::make_pair(from, n) : std::make_pair(from, 0),
        forward ? std::make_pair(0, from) : std::make_pair(n, from)};
    WorkScope work(*this, static_cast<ULONGLONG>(n));
    ULONGLONG looked = 0;
    for (auto [a, b] : stretches) {
        while (a != b) {
            const int c = a < b ? std::min(b, a + kMarkStep) : std::max(b, a - kMarkStep);
            const int row = FindMarked(shown, a, c);
            if (row >= 0)
                return row;
            looked += static_cast<ULONGLONG>(a < c ? c - a : a - c);
            a = c;
            if (WorkProgress(looked))
                return -1;
        }
    }
    return -1;
}

void CScanDlg::OnEditFindNext() {
    const int row = NextMarkedRow(true);
    if (row >= 0)
        m_list.SetFocusRow(row);
}

void CScanDlg::OnEditFindPrevious() {
    const int row = NextMarkedRow(false);
    if (row >= 0)
        m_list.SetFocusRow(row);
}

void CScanDlg::OnOptionsMarkedOnly() {
    if (m_list.Shown().Filtered()) {
        m_list.ShowAll();
        CheckMenuItem(ID_OPTIONS_MARKED_ONLY, MF_UNCHECKED);
        return;
    }
    // The rows marked now, gathered in steps; a stopped gathering shows every row still.
    const Listing& rows = m_list.Rows();
    std::vector<uint32_t> marked;
    marked.reserve(static_cast<size_t>(rows.MarkedCount()));
    {
        WorkScope work(*this, static_cast<ULONGLONG>(rows.Count()));
        for (int first = 0; first < rows.Count(); first += kMarkStep) {
            const int last = std::min(rows.Count(), first + kMarkStep);
            CollectMarked(rows, first, last, &marked);
            if (last < rows.Count() && WorkProgress(static_cast<ULONGLONG>(last))) {
                // The menu checked the item when it was picked.
                CheckMenuItem(ID_OPTIONS_MARKED_ONLY, MF_UNCHECKED);
                return;
            }
        }
    }
    m_list.ShowOnly(std::move(marked));
    CheckMenuItem(ID_OPTIONS_MARKED_ONLY, MF_CHECKED);
}

void CScanDlg::OnOptionsRegex() {
    m_bRegex = !m_bRegex;
    CheckMenuItem(ID_OPTIONS_REGEX, m_bRegex ? MF_CHECKED : MF_UNCHECKED);
}
