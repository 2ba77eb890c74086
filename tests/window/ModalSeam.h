// The tests' modal UI: dialogs, file dialogs and message boxes answered from a queue of
// expectations instead of a person, and help requests recorded. Installed between Begin
// and End in place of Qt's.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Afx.h"
#include "CString.h"
#include "ModalUi.h"

class CDialog;

class ModalSeam {
public:
    // Installs the seam with an empty queue.
    static void Begin();
    // Puts Qt's back; returns every failure: unexpected UI, mismatches, answers never asked.
    static std::vector<std::string> End();

    // A dialog with the template id. The answer receives it after its initialisation and
    // returns the command to press (IDOK or IDCANCEL).
    static void ExpectDialog(UINT nIDTemplate, std::function<UINT(CDialog&)> answer);
    // A file dialog; the answer returns the chosen path, or nothing for Cancel.
    static void
    ExpectFileDialog(std::function<std::optional<CString>(const FileDialogRequest&)> answer);
    // A message box with exactly this text and type; it is answered with nAnswer.
    static void ExpectMessageBox(const CString& text, UINT nType, int nAnswer = IDOK);

    // Every help request (help file, topic, the file's text) made while the seam was on, in
    // order.
    struct HelpRequest {
        CString file;
        UINT topic;
        std::string html;
    };
    static const std::vector<HelpRequest>& HelpRequests();

    // Every message box shown while the seam was on, in order.
    static const std::vector<MessageBoxRecord>& MessageBoxes();
};
