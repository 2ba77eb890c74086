// The modal UI the program shows a person, with Qt: dialogs, file dialogs, message boxes and
// the help viewer.
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStringList>
#include <QTextBrowser>
#include <QTextFrame>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <dirent.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "AppState.h"
#include "Dialog.h"
#include "FileDialog.h"
#include "ModalUi.h"
#include "QtConvert.h"

namespace {

// Puts a dialog's centre on its owner's once it shows (on the screen's when the owner is
// hidden or minimised), within the screen. Qt's own placement guesses the frames of a window
// manager and can land beside the owner.
class CentreOnShow : public QObject {
public:
    CentreOnShow(QWidget* dialog, QWidget* owner) : QObject(dialog), m_owner(owner) {
        dialog->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Show) {
            const bool onOwner =
                m_owner && m_owner->isVisible() && !m_owner->window()->isMinimized();
            PlaceWindow(static_cast<QWidget*>(watched),
                        onOwner ? m_owner->window()->frameGeometry() : QRect());
        }
        return false;
    }

private:
    QPointer<QWidget> m_owner;
};

// F1 in a file dialog or a message box asks for help as F1 in the window that opened it
// does: the Help command goes to that window, and the help opens at its topic.
void HelpOnF1(QWidget* dialog, CWnd* owner) {
    if (!owner)
        return;
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), dialog);
    QObject::connect(f1, &QShortcut::activated, dialog, [owner] { owner->SendCommand(ID_HELP); });
}

// "Text Files|*.txt|All Files|*.*||" becomes "Text Files (*.txt)" and "All Files (*)".
QStringList QtFilters(const CString& filter) {
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

// Types and icons from a name and its mode only. Guessing from content would open every
// file the dialog lists, and some never answer (/proc/kmsg, a FIFO without a writer).
class NameOnlyIconProvider : public QFileIconProvider {
public:
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo& info) const override { return icon(info.isDir() ? Folder : File); }
    QString type(const QFileInfo& info) const override {
        if (info.isDir())
            return QStringLiteral("Folder");
        if (!info.isFile())
            return QStringLiteral("Special File");
        const QString suffix = info.suffix();
        return suffix.isEmpty() ? QStringLiteral("File") : suffix + QStringLiteral(" File");
    }
};

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        size_t slash = path.find('/', from);
        parts.push_back(path.substr(from, slash - from));
        if (slash == std::string::npos)
            return parts;
        from = slash + 1;
    }
}

// The one entry of a folder whose name reads as text; empty when none or several do.
std::string EntryReadingAs(const std::string& dir, const QString& text) {
    std::string found;
    int matches = 0;
    if (DIR* d = ::opendir(dir.empty() ? "/" : dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (PathToQt(e->d_name) == text && ++matches == 1)
                found = e->d_name;
        ::closedir(d);
    }
    return matches == 1 ? found : std::string();
}

// The bytes of the path chosen in the dialog. Qt holds names as text, and a name whose
// bytes are not UTF-8 comes back with U+FFFD in their place: each such part gets its bytes
// back, those of the name offered where the user kept it, or else those of the one entry of
// its folder that reads the same.
CString PathBytes(const QString& chosen, const CString& offered) {
    if (!chosen.contains(QChar(QChar::ReplacementCharacter)))
        return CString(PathFromQt(chosen).toStdString());
    std::string offeredPath = offered.Str();
    if (offeredPath.empty() || offeredPath[0] != '/') {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd))
            offeredPath = std::string(cwd) + "/" + offeredPath;
    }
    const std::vector<std::string> offeredParts = SplitPath(offeredPath);
    const QStringList parts = chosen.split(QLatin1Char('/'));
    std::string path;
    bool asOffered = true; // the parts so far are those of the name offered
    for (int i = 0; i < parts.size(); ++i) {
        const size_t at = static_cast<size_t>(i);
        std::string bytes = PathFromQt(parts[i]).toStdString();
        if (parts[i].contains(QChar(QChar::ReplacementCharacter))) {
            if (asOffered && at < offeredParts.size() &&
                PathToQt(offeredParts[at].c_str()) == parts[i])
                bytes = offeredParts[at];
            else if (std::string entry = EntryReadingAs(path, parts[i]); !entry.empty())
                bytes = entry;
        }
        asOffered = asOffered && at < offeredParts.size() && offeredParts[at] == bytes;
        if (i > 0)
            path += '/';
        path += bytes;
    }
    return CString(path);
}

// The help viewer: the help file is HTML with one anchor per topic, named by its number.
// Below the text there is as much room as the topic asked for needs to be scrolled to the
// top of the window, the last and shortest too.
class HelpText : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;
    void ShowTopic(const QString& html, UINT topic) {
        setHtml(html);
        // Where the anchor is, found the way scrolling to it finds it, with room enough.
        SetRoom(viewport()->height());
        scrollToAnchor(QString::number(topic));
        m_anchorTop = verticalScrollBar()->value();
        Settle();
        scrollToAnchor(QString::number(topic));
    }

protected:
    // The help is one text: nothing it names (an image, a style sheet, another file) is
    // read, so a help file cannot make the viewer wait on a pipe or read a device for ever.
    // An image is an empty one: given none, Qt would read the file itself.
    QVariant loadResource(int type, const QUrl&) override {
        if (type != QTextDocument::ImageResource)
            return QVariant();
        QImage none(1, 1, QImage::Format_ARGB32);
        none.fill(Qt::transparent);
        return none;
    }

    void resizeEvent(QResizeEvent* e) override {
        // A new size keeps the reader's place.
        const int at = verticalScrollBar()->value();
        QTextBrowser::resizeEvent(e);
        Settle();
        verticalScrollBar()->setValue(at);
    }

private:
    void SetRoom(qreal room) {
        QTextFrame* root = document()->rootFrame();
        QTextFrameFormat format = root->frameFormat();
        if (format.bottomMargin() != room) {
            format.setBottomMargin(room);
            root->setFrameFormat(format);
        }
    }
    void Settle() {
        const qreal room = document()->rootFrame()->frameFormat().bottomMargin();
        const qreal below = document()->size().height() - room - m_anchorTop;
        SetRoom(std::max<qreal>(0, viewport()->height() - below));
    }
    int m_anchorTop = 0;
};

// Puts the help window beside the dialog it was asked from, where the screen has room, so
// that it does not hide the dialog; else over the main window.
void PlaceHelp(QWidget* help, QWidget* dialog, QWidget* main) {
    const QRect frame = help->frameGeometry();
    if (dialog && dialog->screen()) {
        const QRect room = dialog->screen()->availableGeometry();
        const QRect beside = dialog->frameGeometry();
        for (int x : {beside.right() + 9, beside.left() - 8 - frame.width()}) {
            QRect r(QPoint(x, beside.top()), frame.size());
            r.moveBottom(std::min(r.bottom(), room.bottom()));
            r.moveTop(std::max(r.top(), room.top()));
            if (room.contains(r)) {
                help->move(r.topLeft());
                return;
            }
        }
    }
    PlaceWindow(help, main && main->isVisible() ? main->window()->frameGeometry() : QRect());
}

// While a modal window of ours is up, a help window already open belongs to it, so that
// modality leaves the help its mouse and keys; after, it belongs where it did before.
class HelpBesideModal {
public:
    HelpBesideModal(const QPointer<QDialog>& viewer, QWidget* modal) : m_viewer(viewer) {
        if (!viewer || !viewer->isVisible() || !modal || !viewer->windowHandle())
            return;
        modal->winId(); // its window, before it is shown
        if (!modal->windowHandle())
            return;
        m_before = viewer->windowHandle()->transientParent();
        viewer->windowHandle()->setTransientParent(modal->windowHandle());
        m_moved = true;
    }
    ~HelpBesideModal() {
        if (m_moved && m_viewer && m_viewer->windowHandle())
            m_viewer->windowHandle()->setTransientParent(m_before);
    }
    HelpBesideModal(const HelpBesideModal&) = delete;
    HelpBesideModal& operator=(const HelpBesideModal&) = delete;

private:
    const QPointer<QDialog>& m_viewer;
    QPointer<QWindow> m_before;
    bool m_moved = false;
};

class QtModalUi : public ModalUi {
public:
    void RunDialog(CDialog& dlg) override {
        HelpBesideModal help(m_helpViewer, dlg.GetWidget());
        dlg.ExecWindow();
    }

    std::optional<CString> ChooseFile(const FileDialogRequest& req, CWnd* owner) override {
        QWidget* parent = owner ? owner->GetWidget() : nullptr;
        NameOnlyIconProvider icons;
        QFileDialog dlg(parent ? parent->window() : nullptr);
        dlg.setIconProvider(&icons);
        dlg.setObjectName(req.bOpen ? QStringLiteral("openDialog") : QStringLiteral("saveDialog"));
        dlg.setOption(QFileDialog::DontUseNativeDialog, true);
        dlg.setAcceptMode(req.bOpen ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        // Neither dialog checks that a typed name exists; the save dialog never asks before
        // replacing a file unless told to.
        dlg.setFileMode(QFileDialog::AnyFile);
        dlg.setOption(QFileDialog::DontConfirmOverwrite, (req.flags & OFN_OVERWRITEPROMPT) == 0);
        dlg.setNameFilters(QtFilters(req.filter));
        if (!req.defaultExt.IsEmpty())
            dlg.setDefaultSuffix(QString::fromLatin1(req.defaultExt.GetString()));
        if (req.filterIndex > 1 && req.filterIndex <= dlg.nameFilters().size())
            dlg.selectNameFilter(dlg.nameFilters()[req.filterIndex - 1]);
        if (!req.initialName.IsEmpty()) {
            // A name in a folder that exists opens that folder with the name in the field;
            // any other name is offered whole, as given.
            const QString name = PathToQt(req.initialName);
            const QFileInfo info(name);
            if (info.isAbsolute() && info.dir().exists()) {
                dlg.setDirectory(info.absolutePath());
                dlg.selectFile(info.fileName());
            } else if (auto* field = dlg.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
                field->setText(name);
            }
        }
        new CentreOnShow(&dlg, parent ? parent->window() : nullptr);
        HelpOnF1(&dlg, owner);
        HelpBesideModal help(m_helpViewer, &dlg);
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return std::nullopt;
        return PathBytes(dlg.selectedFiles().first(), req.initialName);
    }

    int ShowMessageBox(const MessageBoxRecord& rec, CWnd* owner) override {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        switch (rec.type & MB_ICONMASK) {
        case MB_ICONSTOP:
            icon = QMessageBox::Critical;
            break;
        case MB_ICONEXCLAMATION:
            icon = QMessageBox::Warning;
            break;
        default:
            break;
        }
        const QMessageBox::StandardButtons buttons = QMessageBox::Ok;
        QWidget* parent = owner ? owner->GetWidget() : nullptr;
        if (parent)
            parent = parent->window();
        QMessageBox box(icon, FromBytes(rec.caption), FromBytes(rec.text), buttons, parent);
        box.setObjectName(QStringLiteral("messageBox"));
        new CentreOnShow(&box, parent);
        HelpOnF1(&box, owner);
        HelpBesideModal help(m_helpViewer, &box);
        box.exec();
        return IDOK;
    }

    void ShowHelp(const CString&, UINT topic, const std::string& html, CWnd* mainWnd) override {
        QPointer<QDialog>& viewer = m_helpViewer;
        if (!viewer) {
            QWidget* parent = mainWnd ? mainWnd->GetWidget() : nullptr;
            viewer = new QDialog(parent, Qt::Window);
            viewer->setObjectName(QStringLiteral("helpViewer"));
            viewer->setAttribute(Qt::WA_DeleteOnClose);
            viewer->setWindowTitle(FromBytes(AfxGetAppTitle()) + QStringLiteral(" Help"));
            auto* layout = new QVBoxLayout(viewer);
            auto* browser = new HelpText(viewer);
            browser->setObjectName(QStringLiteral("helpText"));
            layout->addWidget(browser);
            viewer->resize(560, 480);
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == viewer)
            modal = nullptr;
        const bool placed = viewer->isVisible();
        viewer->show();
        if (!placed)
            PlaceHelp(viewer, modal,
                      mainWnd && mainWnd->GetWidget() ? mainWnd->GetWidget() : nullptr);
        // Asked from a modal dialog, the viewer belongs to that dialog for as long as it is
        // open, so that the dialog's modality does not shut the viewer out.
        if (modal && modal->windowHandle())
            viewer->windowHandle()->setTransientParent(modal->windowHandle());
        static_cast<HelpText*>(viewer->findChild<QTextBrowser*>())
            ->ShowTopic(QString::fromUtf8(html.data(), static_cast<qsizetype>(html.size())), topic);
        viewer->raise();
        viewer->activateWindow();
    }

private:
    QPointer<QDialog> m_helpViewer; // the help window, once shown, until it is closed
};

} // namespace

ModalUi& AfxQtModalUi() {
    static QtModalUi ui;
    return ui;
}
