#include <cctype>
#include <climits>

#include "FileDialog.h"
#include "PromptDlg.h"
#include "ScanDlg.h"
#include "WinApp.h"

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
    SetStatus(" - Saving data to text file");
    CString strPath = dlg.GetPathName();
    // The file the rows came from is never replaced by its own listing (a scanned
    // notes.txt offers notes.txt as the export name).
    if (CFile::IdentityOf(strPath) == m_scannedFile) {
        SetStatus(" - Unable to open file");
        return;
    }
    CFile file;
    if (!file.Open(strPath, CFile::modeCreate | CFile::modeWrite | CFile::shareDenyWrite |
                                CFile::typeBinary)) {
        SetStatus(" - Unable to open file");
        return;
    }
    WriteRows(file, bAll);
    file.Close();
    SetStatus(" - Done");
}

void CScanDlg::WriteRows(CFile& file, BOOL bAll) {
    const int count = m_list.GetItemCount();
    for (int i = 0; i < count; ++i) {
        if (!bAll && !(m_list.GetItemState(i, LVIS_SELECTED) & LVIS_SELECTED))
            continue;
        int offsetLength, textLength;
        const char* offset = m_list.GetItemTextView(i, 0, &offsetLength);
        const char* text = m_list.GetItemTextView(i, 1, &textLength);
        file.Write(offset, static_cast<UINT>(offsetLength));
        file.Write("\t", 1);
        file.Write(text, static_cast<UINT>(textLength));
        file.Write("\r\n", 2);
    }
}

namespace {

inline unsigned char Upper(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// Whether text, upper-cased, contains needle (already upper case). Compares in place rather
// than upper-casing a copy of every row.
bool ContainsFolded(const char* text, int len, const CString& needle) {
    const int n = needle.GetLength();
    if (n == 0)
        return true;
    const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* k = reinterpret_cast<const unsigned char*>(needle.GetString());
    const unsigned char first = k[0];
    for (int i = 0; i + n <= len; ++i) {
        if (Upper(t[i]) != first)
            continue;
        int j = 1;
        while (j < n && Upper(t[i + j]) == k[j])
            ++j;
        if (j == n)
            return true;
    }
    return false;
}

} // namespace

bool CScanDlg::MarkRowsContaining(const CString& strUpper) {
    bool found = false;
    const int count = m_list.GetItemCount();
    for (int i = 0; i < count; ++i) {
        int len;
        const char* text = m_list.GetItemTextView(i, 1, &len);
        if (ContainsFolded(text, len, strUpper)) {
            m_list.SetItemState(i, LVIS_SELECTED, LVIS_SELECTED);
            found = true;
        }
    }
    return found;
}

void CScanDlg::OnEditFind() {
    static CString s_strLastFind;
    CPromptDlg dlg(this);
    dlg.m_strPrompt = "Text to find?";
    dlg.m_strValue = s_strLastFind;
    if (dlg.DoModal() != IDOK)
        return;
    s_strLastFind = dlg.m_strValue;
    const int count = m_list.GetItemCount();
    s_strLastFind.MakeUpper();
    if (count <= 0) {
        AfxMessageBox(this, "Text Not Found", MB_OK);
        return;
    }
    if (!MarkRowsContaining(s_strLastFind))
        AfxMessageBox(this, "Text Not Found", MB_OK);
}

// Reads a decimal number as the minimum-length prompt takes it: leading white space, an
// optional sign, then digits up to the first other character; none at all is 0. Values
// beyond the integer range stop at its ends.
int CScanDlg::ReadDecimal(const char* text) {
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

void CScanDlg::OnOptionsMinLength() {
    CPromptDlg dlg(this);
    dlg.m_strPrompt = "The minimum number of alpha chars to consider a word?";
    dlg.m_strValue.Format("%d", m_nMinLength);
    if (dlg.DoModal() == IDOK)
        m_nMinLength = ReadDecimal(dlg.m_strValue);
}
