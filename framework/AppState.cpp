// The Afx functions that read and set the application's state: the application object, its
// title and command line, and where commands go that no window takes.
#include "AppState.h"

namespace {
AppState* g_state = nullptr;
} // namespace

AppState* AfxAppState() {
    return g_state;
}

void AfxSetAppState(AppState* state) {
    g_state = state;
}

CWinApp* AfxGetApp() {
    return g_state ? g_state->app : nullptr;
}

CCmdTarget* AfxCommandFallback() {
    return g_state ? g_state->commands : nullptr;
}

const char* GetCommandLineArguments() {
    return g_state ? g_state->arguments.GetString() : "";
}

void AfxSetCommandLine(int argc, const char* const* argv) {
    // The program's name is left out whatever it holds; the arguments are taken as given.
    CString line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += ' ';
        line += argv[i];
    }
    if (g_state)
        g_state->arguments = line;
}

void AfxSetAppTitle(const CString& title) {
    if (g_state)
        g_state->title = title;
}

CString AfxGetAppTitle() {
    return g_state ? g_state->title : CString();
}
