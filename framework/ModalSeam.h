// The one seam for tests: modal UI (dialogs, file dialogs, message boxes) answered from a
// queue of expectations instead of a person. Off in the program.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Afx.h"
#include "CString.h"

class CDialog;

struct FileDialogRequest {
    bool bOpen = true;
    CString initialName;
    CString filter;
    UINT flags = 0;
    CString defaultExt;
};

struct MessageBoxRecord {
    CString text;
    CString caption;
    UINT type = 0;
    const void* owner = nullptr;
};

class ModalSeam {
public:
    // Switches the seam on with an empty queue.
    static void Begin();
    // Switches it off; returns every failure: unexpected UI, mismatches, answers never asked.
    static std::vector<std::string> End();
    static bool IsOn();

    // A dialog with the template id. The answer receives it after its initialisation and
    // returns the command to press (IDOK or IDCANCEL).
    static void ExpectDialog(UINT nIDTemplate, std::function<UINT(CDialog&)> answer);
    // A file dialog; the answer returns the chosen path, or nothing for Cancel.
    static void
    ExpectFileDialog(std::function<std::optional<CString>(const FileDialogRequest&)> answer);
    // A message box with exactly this text and type; it is answered with nAnswer.
    static void ExpectMessageBox(const CString& text, UINT nType, int nAnswer = IDOK);

    // Every help request (help file, topic) made while the seam was on, in order.
    struct HelpRequest {
        CString file;
        UINT topic;
    };
    static const std::vector<HelpRequest>& HelpRequests();
    static void RecordHelp(const CString& file, UINT topic);

    // Every message box shown while the seam was on, in order.
    static const std::vector<MessageBoxRecord>& MessageBoxes();

    // Called by the framework.
    static std::optional<UINT> AnswerDialog(CDialog& dlg);
    static std::optional<CString> AnswerFileDialog(const FileDialogRequest& req);
    static int AnswerMessageBox(const MessageBoxRecord& rec);
};
