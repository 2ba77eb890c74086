// The list's mouse and keys, handed to its selection rules; the view then shows what changed.
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>

#include "ListView.h"

namespace {

unsigned ModifiersOf(Qt::KeyboardModifiers mods) {
    return (mods & Qt::ShiftModifier ? RowSelection::kShift : RowSelection::kPlain) |
           (mods & Qt::ControlModifier ? RowSelection::kCtrl : RowSelection::kPlain);
}

// The step a key takes the cursor, if it is one of the keys that move it.
bool StepOf(int key, RowSelection::Step* step) {
    switch (key) {
    case Qt::Key_Up:
        *step = RowSelection::Step::Up;
        return true;
    case Qt::Key_Down:
        *step = RowSelection::Step::Down;
        return true;
    case Qt::Key_PageUp:
        *step = RowSelection::Step::PageUp;
        return true;
    case Qt::Key_PageDown:
        *step = RowSelection::Step::PageDown;
        return true;
    case Qt::Key_Home:
        *step = RowSelection::Step::Home;
        return true;
    case Qt::Key_End:
        *step = RowSelection::Step::End;
        return true;
    default:
        return false;
    }
}

} // namespace

void ListView::mousePressEvent(QMouseEvent* e) {
    if (!Rows() || e->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(e);
        return;
    }
    const int row = RowAt(e->position().toPoint());
    m_selection.Click(row, ModifiersOf(e->modifiers()));
    if (row >= 0)
        ShowCurrent();
    else
        viewport()->update();
}

void ListView::mouseMoveEvent(QMouseEvent* e) {
    if (!(e->buttons() & Qt::LeftButton) || !m_selection.Dragging() ||
        (e->modifiers() & Qt::ControlModifier))
        return;
    m_dragPos = e->position().toPoint();
    DragTo(m_dragPos);
}

void ListView::mouseReleaseEvent(QMouseEvent* e) {
    m_selection.EndDrag();
    m_dragScroll->stop();
    QAbstractScrollArea::mouseReleaseEvent(e);
}

void ListView::DragTo(const QPoint& pos) {
    if (!m_selection.Dragging()) {
        m_dragScroll->stop();
        return;
    }
    // Past the top or bottom the list scrolls a row at a time, and goes on doing so while
    // the mouse stays there.
    const int n = RowCount();
    int row;
    const bool outside = pos.y() < 0 || pos.y() >= viewport()->height();
    if (pos.y() < 0)
        row = std::max(0, TopRow() - 1);
    else if (pos.y() >= viewport()->height())
        row = std::min(n - 1, TopRow() + PageRows());
    else if ((row = RowAt(QPoint(0, pos.y()))) < 0)
        row = n - 1;
    if (outside)
        m_dragScroll->start();
    else
        m_dragScroll->stop();
    m_selection.DragTo(row);
    ShowCurrent();
}

void ListView::keyPressEvent(QKeyEvent* e) {
    const unsigned mods = ModifiersOf(e->modifiers());
    RowSelection::Step step;
    if (e->matches(QKeySequence::SelectAll)) {
        m_selection.MarkAll();
        viewport()->update();
    } else if (e->key() == Qt::Key_Space) {
        m_selection.Space(mods);
        viewport()->update();
    } else if (e->key() == Qt::Key_Left || e->key() == Qt::Key_Right) {
        QScrollBar* h = horizontalScrollBar();
        h->setValue(h->value() + (e->key() == Qt::Key_Left ? -1 : 1) * h->singleStep());
    } else if (StepOf(e->key(), &step)) {
        if (m_selection.Move(step, PageRows(), mods))
            ShowCurrent();
    } else {
        // Enter, Escape and the rest belong to the window.
        e->ignore();
    }
}

void ListView::focusInEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusInEvent(e);
    viewport()->update();
}

void ListView::focusOutEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusOutEvent(e);
    viewport()->update();
}
