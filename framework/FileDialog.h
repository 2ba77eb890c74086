// The open and save dialogs.
#pragma once

#include "Afx.h"
#include "CString.h"

class CWnd;

constexpr UINT OFN_OVERWRITEPROMPT = 0x00000002;
constexpr UINT OFN_HIDEREADONLY = 0x00000004;

class CFileDialog {
public:
    // lpszFilter is "Name|patterns|Name|patterns||"; patterns are separated by ";".
    CFileDialog(BOOL bOpenFileDialog, const char* lpszDefExt = nullptr,
                const char* lpszFileName = nullptr, UINT dwFlags = OFN_HIDEREADONLY,
                const char* lpszFilter = nullptr, CWnd* pParentWnd = nullptr);
    int DoModal();
    CString GetPathName() const { return m_strPath; }
    // The filter shown when the dialog opens, counted from 1 in the filter string.
    void SetFilterIndex(int index) { m_nFilterIndex = index; }

private:
    BOOL m_bOpen;
    CString m_strDefExt, m_strFileName, m_strFilter;
    UINT m_flags;
    int m_nFilterIndex = 1;
    CWnd* m_pParent;
    CString m_strPath;
};
