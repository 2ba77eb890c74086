// The list's Qt side: a table model reading a listing, and the view that shows it and
// changes its marks by mouse and keyboard.
#pragma once

#include <QAbstractTableModel>
#include <QTreeView>
#include <functional>

class Listing;

// The rows of a listing as a table for the view; it reads the listing and knows nothing of
// the control that owns it.
class ListModel : public QAbstractTableModel {
public:
    explicit ListModel(QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The listing shown, or none.
    void SetListing(Listing* listing);
    Listing* Rows() const { return m_listing; }
    void SetHeadings(const QStringList& headings);
    // Whether a row is marked: data() under this role.
    static constexpr int MarkedRole = Qt::UserRole + 1;
    // Rows appended to the listing one at a time are announced to the view in one batch,
    // once the handler that appended them has returned.
    void RowsAppended();
    // Brings the view up to the listing's rows at once: new ones, fewer, new marks.
    void Flush();
    // Empties the listing through clear, with the view told before and after.
    void ClearRows(const std::function<void()>& clear);

private:
    void ResetRows();
    Listing* m_listing = nullptr;
    QStringList m_headings;
    int m_shown = 0;
    bool m_flushPosted = false;
};

// The list view: marks are the storage's selected bits, changed here by mouse and keyboard.
class ListView : public QTreeView {
public:
    ListView(QWidget* parent, ListModel* model);
    ListModel* Model() const { return m_model; }

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;

public:
    void reset() override;

private:
    void SelectRange(int a, int b, bool clearFirst);
    void Changed();
    ListModel* m_model;
    int m_anchor = -1;
};
