#include "ModalSeam.h"

#include <cstdlib>
#include <deque>

#include "Dialog.h"

namespace {
enum class Kind { Dialog, FileDialog, MessageBox };

struct Expectation {
    Kind kind = Kind::Dialog;
    UINT templateId = 0;
    std::function<UINT(CDialog&)> dialog;
    std::function<std::optional<CString>(const FileDialogRequest&)> file;
    CString text;
    UINT type = 0;
    int answer = IDOK;
};

struct SeamState {
    bool on = false;
    std::deque<Expectation> queue;
    std::vector<std::string> failures;
    std::vector<MessageBoxRecord> boxes;
    std::vector<ModalSeam::HelpRequest> help;
};

SeamState& S() {
    static SeamState s;
    return s;
}

const char* KindName(Kind k) {
    switch (k) {
    case Kind::Dialog:
        return "a dialog";
    case Kind::FileDialog:
        return "a file dialog";
    default:
        return "a message box";
    }
}

// Takes the next expectation if it is of the kind asked for; records a failure if not.
std::optional<Expectation> Next(Kind kind, const std::string& what) {
    SeamState& s = S();
    if (s.queue.empty()) {
        s.failures.push_back("unexpected " + what);
        return std::nullopt;
    }
    if (s.queue.front().kind != kind) {
        s.failures.push_back("expected " + std::string(KindName(s.queue.front().kind)) + ", got " +
                             what);
        s.queue.pop_front();
        return std::nullopt;
    }
    Expectation e = std::move(s.queue.front());
    s.queue.pop_front();
    return e;
}

std::optional<UINT> AnswerDialog(CDialog& dlg);
std::optional<CString> AnswerFileDialog(const FileDialogRequest& req);
int AnswerMessageBox(const MessageBoxRecord& rec);

class ScriptedUi : public ModalUi {
public:
    void RunDialog(CDialog& dlg) override {
        std::optional<UINT> cmd = AnswerDialog(dlg);
        if (cmd && !dlg.HasEnded())
            dlg.SendCommand(*cmd);
    }
    std::optional<CString> ChooseFile(const FileDialogRequest& req, CWnd*) override {
        return AnswerFileDialog(req);
    }
    int ShowMessageBox(const MessageBoxRecord& rec, CWnd*) override {
        return AnswerMessageBox(rec);
    }
    void ShowHelp(const CString& file, UINT topic, const std::string& html, CWnd*) override {
        S().help.push_back({file, topic, html});
    }
};

ScriptedUi g_scripted;
ModalUi* g_before = nullptr; // what the seam replaced

} // namespace

void ModalSeam::Begin() {
    SeamState& s = S();
    // A second Begin would lose what the first replaced.
    if (s.on)
        std::abort();
    s = SeamState();
    s.on = true;
    g_before = AfxSetModalUi(&g_scripted);
}

std::vector<std::string> ModalSeam::End() {
    SeamState& s = S();
    for (const Expectation& e : s.queue)
        s.failures.push_back(std::string(KindName(e.kind)) + " was expected but never came" +
                             (e.kind == Kind::MessageBox ? ": \"" + e.text.Str() + "\"" : ""));
    s.queue.clear();
    s.on = false;
    AfxSetModalUi(g_before);
    return std::move(s.failures);
}

void ModalSeam::ExpectDialog(UINT nIDTemplate, std::function<UINT(CDialog&)> answer) {
    Expectation e;
    e.kind = Kind::Dialog;
    e.templateId = nIDTemplate;
    e.dialog = std::move(answer);
    S().queue.push_back(std::move(e));
}

void ModalSeam::ExpectFileDialog(
    std::function<std::optional<CString>(const FileDialogRequest&)> answer) {
    Expectation e;
    e.kind = Kind::FileDialog;
    e.file = std::move(answer);
    S().queue.push_back(std::move(e));
}

void ModalSeam::ExpectMessageBox(const CString& text, UINT nType, int nAnswer) {
    Expectation e;
    e.kind = Kind::MessageBox;
    e.text = text;
    e.type = nType;
    e.answer = nAnswer;
    S().queue.push_back(std::move(e));
}

const std::vector<MessageBoxRecord>& ModalSeam::MessageBoxes() {
    return S().boxes;
}

const std::vector<ModalSeam::HelpRequest>& ModalSeam::HelpRequests() {
    return S().help;
}

namespace {

std::optional<UINT> AnswerDialog(CDialog& dlg) {
    std::string what = "dialog " + std::to_string(dlg.GetTemplateId());
    std::optional<Expectation> e = Next(Kind::Dialog, what);
    if (!e)
        return std::nullopt;
    if (e->templateId != dlg.GetTemplateId()) {
        S().failures.push_back("expected dialog " + std::to_string(e->templateId) + ", got " +
                               what);
        return std::nullopt;
    }
    return e->dialog ? e->dialog(dlg) : IDCANCEL;
}

std::optional<CString> AnswerFileDialog(const FileDialogRequest& req) {
    std::optional<Expectation> e =
        Next(Kind::FileDialog, req.bOpen ? "open dialog" : "save dialog");
    if (!e || !e->file)
        return std::nullopt;
    return e->file(req);
}

int AnswerMessageBox(const MessageBoxRecord& rec) {
    S().boxes.push_back(rec);
    std::optional<Expectation> e = Next(Kind::MessageBox, "message box \"" + rec.text.Str() + "\"");
    if (!e)
        return IDCANCEL;
    if (e->text != rec.text || e->type != rec.type)
        S().failures.push_back("message box \"" + rec.text.Str() + "\" type " +
                               std::to_string(rec.type) + ", expected \"" + e->text.Str() +
                               "\" type " + std::to_string(e->type));
    return e->answer;
}

} // namespace
