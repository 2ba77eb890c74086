#include "ModalUi.h"

#include <cstdio>
#include <cstdlib>

namespace {
ModalUi* g_ui = nullptr;      // installed in place of the default
ModalUi* g_default = nullptr; // the application object's
} // namespace

ModalUi& AfxModalUi() {
    if (g_ui)
        return *g_ui;
    if (!g_default) {
        // Nothing modal can be shown before there is an application object.
        std::fputs("no modal UI: the application object is made first\n", stderr);
        std::abort();
    }
    return *g_default;
}

ModalUi* AfxSetModalUi(ModalUi* ui) {
    ModalUi* before = g_ui;
    g_ui = ui;
    return before;
}

void AfxSetDefaultModalUi(ModalUi* ui) {
    g_default = ui;
}
