#include <algorithm>
#include <cctype>
#include <climits>
#include <new>

#include "Clipboard.h"
#include "FileDialog.h"
#include "Memory.h"
#include "PromptDlg.h"
#include "Results.h"
#include "ScanDlg.h"
#include "WinApp.h"
#include "resource.h"

namespace {
// Rows written or copied between two looks at the window.
constexpr int kExportStep = 1 << 16;
constexpr int kCopyStep = 1 << 16;
} // namespace

void CScanDlg::OnExportAll() {
    ExportList(TRUE);
}

void CScanDlg::OnExportMarked() {
    ExportList(FALSE);
}

void CScanDlg::ExportList(BOOL bAll) {
    CFileDialog dlg(FALSE, nullptr, m_strExportName, OFN_HIDEREADONLY,
                    "Text Files|*.txt|All Files|*.*||", this);
    if (dlg.DoModal() != IDOK)
        return;
    SetStatus(status::kSaving);
    CString strPath = dlg.GetPathName();
    // The file the rows came from is never replaced by its own listing (a scanned
    // notes.txt offers notes.txt as the export name), nor is whatever stands at the path it
    // was scanned from now (a new version an editor saved by rename).
    if (CFile::IdentityOf(strPath) == m_scannedFile ||
        (!m_scannedPath.empty() && CFile::PlaceOf(strPath) == m_scannedPath)) {
        SetStatus(status::kSaveFailed);
        return;
    }
    CFile file;
    if (!file.Open(strPath, CFile::modeCreate | CFile::modeWrite | CFile::shareDenyWrite |
                                CFile::typeBinary)) {
        SetStatus(status::kSaveFailed);
        return;
    }
    // The rows go out in steps: between them the window answers and Stop is heard, and so
    // it does while a pipe's reader keeps the rows waiting. A stopped export is abandoned,
    // so the file it would have replaced or written in place (it has other hard links, say)
    // stays as it was: the rows reach it only when Close copies them, after the last step.
    const Listing& rows = m_list.Rows();
    WorkScope work(*this, static_cast<ULONGLONG>(rows.Count()));
    int written = 0;
    // Asked between steps, and handed to every write, which asks it while it waits; the file
    // keeps nothing of it.
    auto stop = [&] { return WorkProgress(static_cast<ULONGLONG>(written)) && file.CanAbandon(); };
    try {
        for (int first = 0; first < rows.Count(); first += kExportStep) {
            WriteRows(rows, file, bAll != FALSE, first, first + kExportStep, stop);
            written = std::min(first + kExportStep, rows.Count());
            if (written < rows.Count() && stop())
                throw CFile::WriteAbandoned();
        }
        file.Close(stop);
    } catch (const CFile::WriteAbandoned&) {
        work.End();
        file.Abort();
        SetStatus(status::kStopped);
        return;
    }
    work.End();
    SetStatus(status::kDone);
}

void CScanDlg::OnEditCopy() {
    // The rows Export Marked would write, with the line ends of the clipboard here. With
    // nothing marked, whatever the clipboard holds stays there.
    const Listing& rows = m_list.Rows();
    if (rows.MarkedCount() == 0)
        return;
    // Measured, then copied, in steps: between them the window answers and Stop is heard.
    // A stopped Copy leaves the clipboard as it was.
    const auto count = static_cast<ULONGLONG>(rows.Count());
    WorkScope work(*this, 2 * count);
    size_t size = 0;
    for (int first = 0; first < rows.Count(); first += kCopyStep) {
        size += MarkedRowsSize(rows, first, first + kCopyStep);
        if (WorkProgress(static_cast<ULONGLONG>(first + kCopyStep)))
            return;
    }
    // The text must leave room to spare, as the listing's blocks must: the kernel would
    // rather end the program than fail an allocation. An earlier copy of ours goes first
    // when that makes the room, so that there is never more than one.
    // Once it is gone, a stopped Copy could not leave the clipboard as it was: it finishes
    // instead.
    bool released = false;
    if (!MemoryAllows(size)) {
        if (!MemoryAllows(size - std::min(size, AfxClipboardBytesHeld())))
            throw std::bad_alloc();
        AfxClipboardRelease();
        released = true;
    }
    CClipboardText text(size);
    char* out = text.Data();
    for (int first = 0; first < rows.Count(); first += kCopyStep) {
        out = CopyMarkedRows(rows, out, first, first + kCopyStep);
        if (WorkProgress(count + static_cast<ULONGLONG>(first + kCopyStep)) && !released)
            return;
    }
    work.End();
    text.Publish();
}

namespace {

// Reads a decimal number as the minimum-length prompt takes it: leading white space, an
// optional sign, then digits up to the first other character; none at all is 0. Values
// beyond the integer range stop at its ends.
int ReadDecimal(const char* text) {
    const char* p = text;
    while (*p && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

} // namespace

void CScanDlg::OnOptionsUtf16() {
    // Like the minimum length, it applies from the next scan on.
    m_bUtf16 = !m_bUtf16;
    CheckMenuItem(ID_OPTIONS_UTF16, m_bUtf16 ? MF_CHECKED : MF_UNCHECKED);
}

void CScanDlg::OnOptionsMinLength() {
    CPromptDlg dlg(this);
    dlg.m_strPrompt = "The minimum number of alpha chars to consider a word?";
    dlg.m_strValue.Format("%d", m_nMinLength);
    if (dlg.DoModal() == IDOK)
        m_nMinLength = ReadDecimal(dlg.m_strValue);
}
