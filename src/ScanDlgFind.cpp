// Find, stepping through the marked rows, and showing the marked rows only.
#include <algorithm>
#include <chrono>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "Memory.h"
#include "PromptDlg.h"
#include "Results.h"
#include "RowPattern.h"
#include "ScanDlg.h"
#include "resource.h"

namespace {
// Rows searched in a Find's first step; each later step is sized from the time the one
// before took, so that Stop is heard within a few tens of milliseconds whatever a pattern
// costs per byte.
constexpr int kFirstFindStep = 1 << 10;
constexpr int kMostFindStep = 1 << 18;
constexpr std::chrono::milliseconds kFindStepTime(25);
// Rows looked at for a mark between two looks at the window.
constexpr int kMarkStep = 1 << 20;

int NextFindStep(int step, std::chrono::steady_clock::duration took) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(took).count();
    const auto target =
        std::chrono::duration_cast<std::chrono::microseconds>(kFindStepTime).count();
    if (us * 2 < target)
        return std::min(kMostFindStep, step * 2);
    if (us > target)
        return std::max(1, static_cast<int>(step * target / us));
    return step;
}
} // namespace

void CScanDlg::OnEditFind() {
    CPromptDlg dlg(this);
    dlg.m_strPrompt = "Text to find?";
    // A regular expression is offered as typed: upper case would change what it means (\d is
    // not \D). Plain text is offered upper-cased.
    CString offered = m_strLastFind;
    if (!m_bRegex)
        offered.MakeUpper();
    dlg.m_strValue = offered;
    if (dlg.DoModal() != IDOK)
        return;
    m_strLastFind = dlg.m_strValue;
    CString needle = m_strLastFind;
    needle.MakeUpper();
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
    // While only some rows are shown, the rows Find newly marks are shown too: each step
    // first makes sure of the room to note them and to show them beside the others, and
    // stops the Find with "Out of memory." when there is none.
    const bool filtered = m_list.Shown().Filtered();
    std::vector<uint32_t> added;
    bool found = false;
    bool stopped = false;
    bool outOfMemory = false;
    try {
        // The rows go in steps: between them the window answers and Stop is heard. A stopped
        // Find keeps the marks it made.
        WorkScope work(*this, static_cast<ULONGLONG>(count));
        int step = kFirstFindStep;
        for (int first = 0; first < count && !stopped;) {
            const int last = first + std::min(step, count - first);
            if (filtered) {
                const size_t most = added.size() + static_cast<size_t>(last - first);
                const size_t shown = static_cast<size_t>(m_list.Shown().Count());
                if (!MemoryAllows(sizeof(uint32_t) * (2 * most + shown))) {
                    outOfMemory = true;
                    break;
                }
                added.reserve(most);
            }
            const auto started = std::chrono::steady_clock::now();
            m_list.ChangeRows([&](Listing& rows) {
                std::vector<uint32_t>* newly = filtered ? &added : nullptr;
                found |= pattern ? pattern->MarkIn(rows, first, last, newly)
                                 : MarkRowsContaining(rows, needle, first, last, newly);
            });
            step = NextFindStep(step, std::chrono::steady_clock::now() - started);
            first = last;
            stopped = last < count && WorkProgress(static_cast<ULONGLONG>(last));
        }
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    }
    if (filtered) {
        try {
            m_list.AddShown(added);
        } catch (const std::bad_alloc&) {
            // Every marked row stays in view: without room to add them, every row is shown.
            m_list.ShowAll();
            CheckMenuItem(ID_OPTIONS_MARKED_ONLY, MF_UNCHECKED);
            outOfMemory = true;
        }
    }
    if (outOfMemory)
        AfxMessageBox(this, kOutOfMemory, MB_OK | MB_ICONSTOP);
    else if (!found && !stopped)
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
    // However this ends, the item's check says what the list shows (the menu turned the
    // check over when the item was picked).
    struct CheckFollowsList {
        CScanDlg* dlg;
        ~CheckFollowsList() {
            dlg->CheckMenuItem(ID_OPTIONS_MARKED_ONLY,
                               dlg->m_list.Shown().Filtered() ? MF_CHECKED : MF_UNCHECKED);
        }
    } checkFollowsList{this};
    if (m_list.Shown().Filtered()) {
        m_list.ShowAll();
        return;
    }
    // The rows marked now, 4 bytes each, gathered in steps once there is room for them; a
    // stopped gathering shows every row still.
    const Listing& rows = m_list.Rows();
    const size_t bytes = sizeof(uint32_t) * static_cast<size_t>(rows.MarkedCount());
    if (!MemoryAllows(bytes)) {
        AfxMessageBox(this, kOutOfMemory, MB_OK | MB_ICONSTOP);
        return;
    }
    std::vector<uint32_t> marked;
    marked.reserve(static_cast<size_t>(rows.MarkedCount()));
    {
        WorkScope work(*this, static_cast<ULONGLONG>(rows.Count()));
        for (int first = 0; first < rows.Count(); first += kMarkStep) {
            const int last = std::min(rows.Count(), first + kMarkStep);
            CollectMarked(rows, first, last, &marked);
            if (last < rows.Count() && WorkProgress(static_cast<ULONGLONG>(last)))
                return;
        }
    }
    m_list.ShowOnly(std::move(marked));
}

void CScanDlg::OnOptionsRegex() {
    m_bRegex = !m_bRegex;
    CheckMenuItem(ID_OPTIONS_REGEX, m_bRegex ? MF_CHECKED : MF_UNCHECKED);
}
