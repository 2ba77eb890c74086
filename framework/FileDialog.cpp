#include "FileDialog.h"

#include <QFileDialog>
#include <QStringList>

#include "ModalSeam.h"
#include "Widgets_p.h"
#include "Wnd.h"

CFileDialog::CFileDialog(BOOL bOpenFileDialog, const char* lpszDefExt, const char* lpszFileName,
                         UINT dwFlags, const char* lpszFilter, CWnd* pParentWnd)
    : m_bOpen(bOpenFileDialog), m_strDefExt(lpszDefExt), m_strFileName(lpszFileName),
      m_strFilter(lpszFilter), m_flags(dwFlags), m_pParent(pParentWnd) {}

// "Text Files|*.txt|All Files|*.*||" becomes "Text Files (*.txt)" and "All Files (*)".
static QStringList QtFilters(const CString& filter) {
    QStringList parts = QString::fromLatin1(filter.GetString()).split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty())
            break;
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns)
            if (p == QLatin1String("*.*"))
                p = QStringLiteral("*");
        out << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out;
}

int CFileDialog::DoModal() {
    FileDialogRequest req{m_bOpen != 0, m_strFileName, m_strFilter, m_flags, m_strDefExt};
    if (ModalSeam::IsOn()) {
        std::optional<CString> path = ModalSeam::AnswerFileDialog(req);
        if (!path)
            return IDCANCEL;
        m_strPath = *path;
        return IDOK;
    }
    QWidget* parent = m_pParent ? m_pParent->GetWidget() : nullptr;
    QFileDialog dlg(parent ? parent->window() : nullptr);
    dlg.setObjectName(m_bOpen ? QStringLiteral("openDialog") : QStringLiteral("saveDialog"));
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    dlg.setAcceptMode(m_bOpen ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    // Neither dialog checks that a typed name exists; the save dialog never asks before
    // replacing a file unless told to.
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, (m_flags & OFN_OVERWRITEPROMPT) == 0);
    dlg.setNameFilters(QtFilters(m_strFilter));
    if (!m_strDefExt.IsEmpty())
        dlg.setDefaultSuffix(QString::fromLatin1(m_strDefExt.GetString()));
    if (!m_strFileName.IsEmpty()) {
        QString name = PathToQt(m_strFileName);
        dlg.selectFile(name);
    }
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return IDCANCEL;
    m_strPath = CString(PathFromQt(dlg.selectedFiles().first()).toStdString());
    return IDOK;
}
