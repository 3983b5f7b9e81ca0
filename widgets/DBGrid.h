#pragma once

#include "DataGridModel.h"

#include <QColor>
#include <QPainter>
#include <QTableView>

class DataGridDelegate;
class DataSet;
class DataSource;

// A grid over a data source: one row per record, the dataset's current
// record is the grid's current row. Moving the cursor posts a changed row
// first; Insert, and Down on the last row, add a row; Ctrl+Delete deletes
// after the grid's own question; Esc cancels. A new row nobody typed into
// is dropped when the grid is left. In a read-only grid Enter opens the
// current row as a double click does. Only the rows on screen are read.
class DBGrid : public QTableView
{
    Q_OBJECT
public:
    // The colour of the title row and the row indicator.
    static constexpr QRgb fixedCellColor = qRgb(126, 170, 214);

    explicit DBGrid(QWidget *parent = nullptr);
    ~DBGrid() override;

    void setDataSource(DataSource *source);
    DataSource *dataSource() const;
    DataSet *dataSet() const;
    DataGridModel *gridModel() const { return m_model; }

    void setColumns(const QList<GridColumn> &columns);
    const QList<GridColumn> &columns() const;

    // The height that shows `rows` rows under the titles, with room for a
    // horizontal scroll bar.
    int heightForRows(int rows) const;

    void setTitlesVisible(bool visible);
    void setRowIndicatorVisible(bool visible);
    // A read-only grid changes nothing: no editing, adding or deleting.
    void setReadOnly(bool readOnly);
    bool isReadOnly() const;
    // Editing in place and adding rows by key (Insert, Down on the last row).
    void setEditingAllowed(bool allowed);
    bool editingAllowed() const { return m_editingAllowed; }
    // Whether Ctrl+Delete asks before it deletes.
    void setConfirmDelete(bool confirm) { m_confirmDelete = confirm; }
    bool confirmDelete() const { return m_confirmDelete; }

signals:
    // Every key, before the grid acts on it (moves, adds, deletes).
    void keyDown(int key, Qt::KeyboardModifiers modifiers, const QString &text);
    // Each character a key produced, after the grid acted on the key.
    void keyPress(QChar character);
    // The focus left the grid for another control of its window.
    void exited();
    // A double click anywhere in the grid, or Enter in a read-only one.
    void dblClicked();
    // After the grid painted a cell: the window may paint over it.
    void drawColumnCell(QPainter *painter, const QRect &rect, int row, int column);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void keyboardSearch(const QString &search) override;
    void changeEvent(QEvent *event) override;

private:
    void applyColumnLayout();
    void applyRowHeight();
    void updateEditTriggers();
    void handleKey(QKeyEvent *event);
    bool handleOwnKey(const QKeyEvent *event);
    bool canAddRows() const;
    bool canDeleteRows() const;
    bool atLastRow() const;
    void addRowBelowLast();
    void deleteCurrentRow();
    void cancelChanges();
    void commitOpenEditor();
    void followDataSet();
    void focusMoved(QWidget *from, QWidget *to);
    bool contains(const QWidget *widget) const;
    void leave();

    DataGridModel *m_model;
    DataGridDelegate *m_delegate;
    bool m_editingAllowed = true;
    bool m_confirmDelete = true;
    bool m_readOnly = false;
    bool m_following = false;
    QMetaObject::Connection m_followConnection;
    QMetaObject::Connection m_rereadConnection;
    QMetaObject::Connection m_focusConnection;
};
