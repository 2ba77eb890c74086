// Long work inside a handler (a scan, an export), as a window runs it: the window paints and
// answers between the work's steps, a progress bar and a Stop button show below its client
// area after a moment, and until the work ends no other command starts. The window owns one.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <utility>
#include <vector>

#include "Afx.h"

class QAction;
class QBoxLayout;
class QProgressBar;
class QWidget;

class LongWork : public QObject {
public:
    LongWork() = default;
    ~LongWork() override;
    LongWork(const LongWork&) = delete;
    LongWork& operator=(const LongWork&) = delete;

    // The window the work runs in, and the layout its progress row goes to the end of; until
    // Detach, its keys, close box and drops go through the work's guards first.
    void Attach(QWidget* window, QBoxLayout* layout);
    // The window is going: nothing of it is touched again.
    void Detach();

    // The work begins: the window's menu is grayed.
    void Begin(ULONGLONG total);
    // Shows how far the work has come and lets the window answer; true when the user asked
    // the work to stop.
    bool Progress(ULONGLONG done);
    // The work has ended: the menu is as it was, the progress row goes. True when the close
    // box was pressed meanwhile, and the window is to end now.
    bool End();

    bool IsBusy() const { return m_busy; }
    // Asks the work to stop, as Stop and Escape do.
    void Stop() { m_stopAsked = true; }
    // Asks the work to stop, and the window to end once it has, as the close box does.
    void StopAndClose() {
        m_stopAsked = true;
        m_closeAsked = true;
    }

protected:
    // While work runs, the window's keys, close box and drops come here first.
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void ShowProgressRow();
    void RemoveProgressRow();

    QWidget* m_window = nullptr;
    QBoxLayout* m_layout = nullptr;
    bool m_busy = false;
    bool m_stopAsked = false;
    bool m_closeAsked = false;
    ULONGLONG m_total = 0;
    QElapsedTimer m_clock;
    QWidget* m_row = nullptr; // the progress bar and Stop, once shown
    QProgressBar* m_bar = nullptr;
    std::vector<std::pair<QAction*, bool>> m_menuState; // what End gives back
};
