// Qt classes behind the framework's windows. Only the framework and tests include this.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QTreeView>
#include <functional>

class CDialog;
class CListCtrl;

class ListModel : public QAbstractTableModel {
public:
    explicit ListModel(CListCtrl* ctrl, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Rows appended to the storage are announced to the view once the handler that
    // appended them has returned, in one batch.
    void RowsAppended();
    void Flush();
    void ResetRows();
    // Empties the storage through clear, with the view told before and after.
    void ClearRows(const std::function<void()>& clear);
    void ColumnsChanged();
    void SetViewFocused(bool focused) { m_focused = focused; }
    CListCtrl* Ctrl() const { return m_ctrl; }
    void SetCtrl(CListCtrl* ctrl);
    void SetView(QAbstractItemView* view) { m_view = view; }
    void MarksChanged();

private:
    CListCtrl* m_ctrl;
    int m_shown = 0;
    bool m_flushPosted = false;
    bool m_focused = false;
    QAbstractItemView* m_view = nullptr;
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

public:
    void reset() override;

private:
    void SelectRange(int a, int b, bool clearFirst);
    void Changed();
    ListModel* m_model;
    int m_anchor = -1;
};

class FwDialog : public QDialog {
public:
    FwDialog(CDialog* owner, QWidget* parent);
    CDialog* Owner() const { return m_owner; }
    void Detach() { m_owner = nullptr; }

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    CDialog* m_owner;
};

// The dialog's client area below the menu bar; its size is what WM_SIZE reports.
class ClientArea : public QWidget {
public:
    ClientArea(CDialog* owner, QWidget* parent);
    void Detach() { m_owner = nullptr; }

protected:
    void resizeEvent(QResizeEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    CDialog* m_owner;
};

#include "CString.h"
QString FromBytes(const char* text);
CString ToBytes(const QString& text);
QString PathToQt(const char* path);
QByteArray PathFromQt(const QString& path);
