#include "WinApp.h"

#include <QApplication>
#include <QFile>
#include <unistd.h>

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
