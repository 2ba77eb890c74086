#include "ListAccessible.h"

#include <QAccessibleWidget>
#include <QHeaderView>
#include <QPointer>
#include <QWindow>
#include <unordered_map>

#include "ListView.h"
#include "ShownRows.h"

namespace {

// Past this many, a list of the marked rows is cut: a reader speaks the count instead.
constexpr int kMaxSelectedReported = 10000;

class ListTable;

class ListCell : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
    ListCell(ListView* view, int row, int column) : m_view(view), m_row(row), m_column(column) {}

    bool isValid() const override { return m_view && m_row < m_view->RowCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(m_view.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override {
        if (!isValid() || (t != QAccessible::Name && t != QAccessible::Value))
            return QString();
        return m_view->CellText(m_row, m_column);
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid())
            return QRect();
        const QRect r = m_view->CellRect(m_row, m_column);
        return QRect(m_view->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::Cell; }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid())
            return s;
        s.selectable = true;
        s.multiSelectable = true;
        s.focusable = true;
        s.selected = isSelected();
        s.focused = m_view->hasFocus() && m_view->CurrentRow() == m_row;
        if (!m_view->viewport()->rect().intersects(m_view->CellRect(m_row, m_column))) {
            s.invisible = true;
            s.offscreen = true;
        }
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType t) override {
        return t == QAccessible::TableCellInterface
                   ? static_cast<QAccessibleTableCellInterface*>(this)
                   : nullptr;
    }

    bool isSelected() const override { return isValid() && m_view->Rows()->Marked(m_row); }
    QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return m_column; }
    int rowIndex() const override { return m_row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

private:
    QPointer<ListView> m_view;
    int m_row, m_column;
};

class ListTable : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit ListTable(ListView* view) : QAccessibleWidget(view, QAccessible::Table) {}
    ~ListTable() override { Forget(); }

    ListView* View() const { return static_cast<ListView*>(widget()); }

    int childCount() const override { return rowCount() * columnCount(); }
    QAccessibleInterface* child(int index) const override {
        const int columns = columnCount();
        return index < 0 || !columns ? nullptr : cellAt(index / columns, index % columns);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child || child->role() != QAccessible::Cell)
            return -1;
        auto* cell = static_cast<const ListCell*>(child);
        return ListView::AccessibleChild(cell->rowIndex(), cell->columnIndex());
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint p = View()->viewport()->mapFromGlobal(QPoint(x, y));
        const int row = View()->RowAt(p);
        const int column = row < 0 ? -1 : View()->ColumnAt(p.x());
        return column < 0 ? nullptr : cellAt(row, column);
    }
    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override {
        if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
            return nullptr;
        const int key = ListView::AccessibleChild(row, column);
        auto it = m_cells.find(key);
        if (it != m_cells.end())
            return QAccessible::accessibleInterface(it->second);
        auto* cell = new ListCell(View(), row, column);
        m_cells.emplace(key, QAccessible::registerAccessibleInterface(cell));
        return cell;
    }
    QString columnDescription(int column) const override {
        const QStringList headings = View()->Headings();
        return column >= 0 && column < headings.size() ? headings[column] : QString();
    }
    QString rowDescription(int) const override { return QString(); }
    int columnCount() const override {
        return static_cast<int>(std::min<qsizetype>(2, View()->Headings().size()));
    }
    int rowCount() const override { return View()->RowCount(); }
    int selectedRowCount() const override { return Marked(); }
    int selectedCellCount() const override { return Marked() * columnCount(); }
    int selectedColumnCount() const override { return 0; }
    QList<int> selectedRows() const override {
        QList<int> rows;
        const ShownRows* listing = View()->Rows();
        // The walk ends at the last marked row, or as soon as enough are found.
        const int wanted = std::min(Marked(), kMaxSelectedReported);
        for (int r = 0; listing && r < listing->Count() && rows.size() < wanted; ++r)
            if (listing->Marked(r))
                rows.append(r);
        return rows;
    }
    QList<QAccessibleInterface*> selectedCells() const override {
        QList<QAccessibleInterface*> cells;
        for (int r : selectedRows())
            for (int c = 0; c < columnCount(); ++c)
                cells.append(cellAt(r, c));
        return cells;
    }
    QList<int> selectedColumns() const override { return {}; }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override {
        return row >= 0 && row < rowCount() && View()->Rows()->Marked(row);
    }
    bool selectRow(int row) override { return Mark(row, true); }
    bool unselectRow(int row) override { return Mark(row, false); }
    bool selectColumn(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent*) override { Forget(); }

private:
    int Marked() const { return View()->Rows() ? View()->Rows()->MarkedCount() : 0; }
    // Through the list's selection rules, so that a reader cannot change marks that work
    // is reading.
    bool Mark(int row, bool mark) {
        if (!View()->Selection().Mark(row, mark))
            return false;
        View()->RowsChanged();
        return true;
    }
    // Rows changed under the cells made so far: they go, and new ones are made on demand.
    void Forget() {
        for (const auto& cell : m_cells)
            QAccessible::deleteAccessibleInterface(cell.second);
        m_cells.clear();
    }
    mutable std::unordered_map<int, QAccessible::Id> m_cells;
};

QAccessibleInterface* ListFactory(const QString&, QObject* object) {
    if (auto* view = dynamic_cast<ListView*>(object))
        return new ListTable(view);
    return nullptr;
}

} // namespace

void InstallListAccessibility() {
    static bool installed = false;
    if (!installed) {
        installed = true;
        QAccessible::installFactory(ListFactory);
    }
}
