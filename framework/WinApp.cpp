#include "WinApp.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "AppState.h"
#include "File.h"
#include "ModalUi.h"

#include "QtConvert.h"

// ---- CWinApp ----

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp() : m_state(std::make_unique<AppState>()) {
    m_state->app = this;
    m_state->commands = this;
    if (!AfxAppState())
        AfxSetAppState(m_state.get());
    AfxSetDefaultModalUi(&AfxQtModalUi());
}

CWinApp::~CWinApp() {
    if (AfxAppState() == m_state.get())
        AfxSetAppState(nullptr);
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

// The largest help file read: the help is a few pages of HTML.
constexpr ULONGLONG kMaxHelpFile = ULONGLONG(16) << 20;

// Reads the help file whole, if it is a regular file of at most kMaxHelpFile bytes (an empty
// one is an empty text). Anything else put in its place (a FIFO, a device, a folder, a file
// too large) is refused at once, without waiting and without reading it.
bool ReadHelpFile(const char* path, std::string* text) {
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::typeBinary) || file.GetLength() > kMaxHelpFile)
        return false;
    try {
        const BYTE* data;
        while (UINT n = file.ReadView(&data, CFile::kMaxView)) {
            text->append(reinterpret_cast<const char*>(data), n);
            if (text->size() > kMaxHelpFile)
                return false;
        }
        file.Close();
    } catch (const CFileException&) {
        return false;
    }
    return true;
}

} // namespace

void CWinApp::WinHelp(UINT nTopic) {
    CWnd* owner = AfxModalDialogs().empty() ? m_pMainWnd : AfxModalDialogs().back();
    std::string html;
    if (!ReadHelpFile(m_strHelpPath, &html)) {
        // F1 in this box itself asks again: one box is enough.
        static bool s_bTelling = false;
        if (s_bTelling)
            return;
        s_bTelling = true;
        AfxMessageBox(owner, "Failed to launch help.", MB_OK | MB_ICONEXCLAMATION);
        s_bTelling = false;
        return;
    }
    AfxModalUi().ShowHelp(m_strHelpPath, nTopic, html, m_pMainWnd);
}

void CWinApp::SetModulePath(const CString& path) {
    // The extension is looked for in the file name only: "/opt/tools-1.2/bin/tarnwick" has none.
    int slash = path.ReverseFind('/');
    int dot = path.ReverseFind('.');
    CString stem = (dot > slash) ? path.Left(dot) : path;
    AfxSetAppTitle(stem.Mid(slash + 1));
    m_strHelpPath = stem + ".HLP";
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

namespace {

// Runs while the application object's Run starts Qt.
void StartMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& text) {
    AppState* app = AfxAppState();
    if (type != QtFatalMsg) {
        if (app)
            app->startMessages += text.toLocal8Bit().toStdString() + '\n';
        return;
    }
    // Qt would abort with a page about plugins; one line says what is wrong.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* name = app ? app->title.GetString() : "";
    if (platform && *platform)
        std::fprintf(stderr, "%s: cannot show its window: the platform \"%s\" cannot start\n", name,
                     platform);
    else if (x11 && *x11)
        std::fprintf(stderr, "%s: cannot show its window: the display \"%s\" cannot be opened\n",
                     name, x11);
    else if (wayland && *wayland)
        std::fprintf(stderr, "%s: cannot show its window: the display \"%s\" cannot be opened\n",
                     name, wayland);
    else
        std::fprintf(stderr, "%s: cannot show its window: no display (DISPLAY is not set)\n", name);
    std::_Exit(1);
}

} // namespace

int CWinApp::Run(int argc, char** argv) {
    SetModulePath(ExecutablePath(argc > 0 ? argv[0] : nullptr));
    QtMessageHandler previous = qInstallMessageHandler(StartMessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    std::fputs(m_state->startMessages.c_str(), stderr);
    m_state->startMessages.clear();
    // Qt has taken its own options out of the arguments by now.
    AfxSetCommandLine(argc, argv);
    QApplication::setApplicationName(FromBytes(AfxGetAppTitle()));
    if (InitInstance())
        return QApplication::exec();
    return 0;
}
