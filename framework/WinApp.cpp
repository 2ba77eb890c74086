#include "WinApp.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QPointer>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <unistd.h>

#include "ModalSeam.h"

#include "Widgets_p.h"

namespace {
CWinApp* g_app = nullptr;
CString g_commandLine;
CString g_title;
} // namespace

CWinApp* AfxGetApp() {
    return g_app;
}

CString AfxGetAppTitle() {
    return g_app ? g_app->m_strTitle : g_title;
}

const char* GetCommandLine() {
    return g_commandLine;
}

void AfxSetCommandLineString(const CString& line) {
    g_commandLine = line;
}

void AfxSetCommandLine(int argc, char** argv) {
    CString line;
    for (int i = 0; i < argc; ++i) {
        if (i > 0)
            line += ' ';
        CString arg(argv[i]);
        if (i == 0 && arg.Find(' ') >= 0)
            line += CString("\"") + arg + "\"";
        else
            line += arg;
    }
    g_commandLine = line;
}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp() {
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this)
        g_app = nullptr;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

// Topics are numbered like the dialog templates they explain, from this base.
constexpr UINT kHelpTopicBase = 0x20000;

void CWinApp::OnHelp() {
    const std::vector<CDialog*>& dialogs = AfxModalDialogs();
    UINT topic = kHelpTopicBase + (dialogs.empty() ? 0 : dialogs.back()->GetTemplateId());
    WinHelp(topic);
}

namespace {
// The help viewer: the help file is HTML with one anchor per topic, named by its number.
QPointer<QDialog> g_helpViewer;
} // namespace

void CWinApp::WinHelp(UINT nTopic) {
    CWnd* owner = AfxModalDialogs().empty() ? m_pMainWnd : AfxModalDialogs().back();
    if (ModalSeam::IsOn())
        ModalSeam::RecordHelp(m_strHelpPath, nTopic);
    QFile file(PathToQt(m_strHelpPath));
    if (!file.open(QIODevice::ReadOnly)) {
        AfxMessageBox(owner, "Failed to launch help.", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    QString html = QString::fromUtf8(file.readAll());
    if (ModalSeam::IsOn())
        return;
    if (!g_helpViewer) {
        QWidget* parent = m_pMainWnd ? m_pMainWnd->GetWidget() : nullptr;
        g_helpViewer = new QDialog(parent, Qt::Window);
        g_helpViewer->setObjectName(QStringLiteral("helpViewer"));
        g_helpViewer->setAttribute(Qt::WA_DeleteOnClose);
        g_helpViewer->setWindowTitle(FromBytes(m_strTitle) + QStringLiteral(" Help"));
        auto* layout = new QVBoxLayout(g_helpViewer);
        auto* browser = new QTextBrowser(g_helpViewer);
        browser->setObjectName(QStringLiteral("helpText"));
        layout->addWidget(browser);
        g_helpViewer->resize(560, 480);
    }
    auto* browser = g_helpViewer->findChild<QTextBrowser*>();
    browser->setHtml(html);
    browser->scrollToAnchor(QString::number(nTopic));
    g_helpViewer->show();
    g_helpViewer->raise();
    g_helpViewer->activateWindow();
}

void CWinApp::SetModulePath(const CString& path) {
    // The extension is looked for in the file name only: "/opt/tools-1.2/bin/tarnwick" has none.
    int slash = path.ReverseFind('/');
    int dot = path.ReverseFind('.');
    CString stem = (dot > slash) ? path.Left(dot) : path;
    m_strTitle = stem.Mid(slash + 1);
    m_strHelpPath = stem + ".HLP";
    g_title = m_strTitle;
}

static CString ExecutablePath(const char* argv0) {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) {
        buf[n] = 0;
        return CString(buf);
    }
    return CString(argv0 ? argv0 : "");
}

int CWinApp::Run(int argc, char** argv) {
    QApplication app(argc, argv);
    AfxSetCommandLine(argc, argv);
    SetModulePath(ExecutablePath(argc > 0 ? argv[0] : nullptr));
    QApplication::setApplicationName(FromBytes(m_strTitle));
    if (InitInstance())
        return QApplication::exec();
    return 0;
}
