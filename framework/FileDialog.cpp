#include "FileDialog.h"

#include "ModalUi.h"

CFileDialog::CFileDialog(BOOL bOpenFileDialog, const char* lpszDefExt, const char* lpszFileName,
                         UINT dwFlags, const char* lpszFilter, CWnd* pParentWnd)
    : m_bOpen(bOpenFileDialog), m_strDefExt(lpszDefExt), m_strFileName(lpszFileName),
      m_strFilter(lpszFilter), m_flags(dwFlags), m_pParent(pParentWnd) {}

int CFileDialog::DoModal() {
    FileDialogRequest req{m_bOpen != 0, m_strFileName, m_strFilter,
                          m_flags,      m_strDefExt,   m_nFilterIndex};
    std::optional<CString> path = AfxModalUi().ChooseFile(req, m_pParent);
    if (!path)
        return IDCANCEL;
    m_strPath = *path;
    return IDOK;
}
