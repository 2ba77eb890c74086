#include "LongWork.h"

#include <QAction>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <algorithm>

namespace {
// Work shorter than this shows no progress row.
constexpr qint64 kQuietWorkMs = 300;
} // namespace

LongWork::~LongWork() {
    Detach();
}

void LongWork::Attach(QWidget* window, QBoxLayout* layout) {
    Detach();
    m_window = window;
    m_layout = layout;
    m_window->installEventFilter(this);
}

void LongWork::Detach() {
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = nullptr;
    m_layout = nullptr;
    m_row = nullptr;
    m_bar = nullptr;
    m_menuState.clear();
}

void LongWork::Begin(ULONGLONG total) {
    m_busy = true;
    m_stopAsked = false;
    m_closeAsked = false;
    m_total = total;
    if (!m_window)
        return;
    m_clock.start();
    m_menuState.clear();
    for (QAction* a : m_window->findChildren<QAction*>()) {
        m_menuState.emplace_back(a, a->isEnabled());
        a->setEnabled(false);
    }
}

bool LongWork::Progress(ULONGLONG done) {
    if (!m_window)
        return m_stopAsked;
    if (!m_row && m_clock.elapsed() >= kQuietWorkMs)
        ShowProgressRow();
    if (m_bar) {
        const double part = m_total ? static_cast<double>(done) / m_total : 0.0;
        m_bar->setValue(static_cast<int>(1000 * std::min(part, 1.0)));
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return m_stopAsked;
}

bool LongWork::End() {
    m_busy = false;
    const bool close = m_closeAsked && m_window;
    m_closeAsked = false;
    if (!m_window)
        return false;
    for (const auto& [action, enabled] : m_menuState)
        action->setEnabled(enabled);
    m_menuState.clear();
    RemoveProgressRow();
    return close;
}

void LongWork::ShowProgressRow() {
    auto* row = new QWidget(m_window);
    row->setObjectName(QStringLiteral("workRow"));
    row->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* box = new QHBoxLayout(row);
    box->setContentsMargins(4, 2, 4, 2);
    auto* bar = new QProgressBar(row);
    bar->setObjectName(QStringLiteral("workProgress"));
    bar->setRange(0, 1000);
    auto* stop = new QPushButton(QStringLiteral("Stop"), row);
    stop->setObjectName(QStringLiteral("workStop"));
    stop->setFocusPolicy(Qt::NoFocus);
    connect(stop, &QPushButton::clicked, this, [this] { Stop(); });
    box->addWidget(bar, 1);
    box->addWidget(stop);
    m_layout->addWidget(row);
    m_row = row;
    m_bar = bar;
}

void LongWork::RemoveProgressRow() {
    if (!m_row)
        return;
    m_row->deleteLater();
    m_row->hide();
    m_row = nullptr;
    m_bar = nullptr;
}

bool LongWork::eventFilter(QObject* watched, QEvent* e) {
    if (!m_busy || watched != m_window)
        return false;
    switch (e->type()) {
    case QEvent::KeyPress:
        // Only Escape means anything while work runs: stop it.
        if (static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape)
            Stop();
        return true;
    case QEvent::Close:
        // The window stays until the work has ended; then it ends as the close box asked.
        e->ignore();
        StopAndClose();
        return true;
    case QEvent::DragEnter:
    case QEvent::Drop:
        // No file is taken while work runs.
        return true;
    default:
        return false;
    }
}
