#include "ModalUi.h"

namespace {
ModalUi* g_ui = nullptr;
} // namespace

ModalUi& AfxModalUi() {
    return g_ui ? *g_ui : AfxQtModalUi();
}

ModalUi* AfxSetModalUi(ModalUi* ui) {
    ModalUi* before = g_ui;
    g_ui = ui;
    return before;
}
