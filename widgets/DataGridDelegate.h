#pragma once

#include <QStyledItemDelegate>
#include <functional>

class DataGridModel;
class Field;
class QComboBox;
class QKeyEvent;

// Edits a grid's cells in place: a line edit as long as the field allows, or,
// for a lookup field, a drop-down of the lookup list. Whatever the user
// enters goes into the dataset's field. Paints cells the usual way and then
// lets the window paint over them.
class DataGridDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using CellPainter = std::function<void(QPainter *, const QRect &, int row, int column)>;

    explicit DataGridDelegate(QObject *parent = nullptr);

    void setCellPainter(CellPainter painter) { m_cellPainter = std::move(painter); }

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override;
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

signals:
    // Enter or Esc in an editor, after the editor has closed: the grid treats
    // it as a key of its own.
    void editorKeyPressed(QKeyEvent *event);

protected:
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    QComboBox *createLookupList(QWidget *parent, const Field *lookup) const;
    void showLookupChoice(QComboBox *list, const Field *lookup) const;
    void storeLookupChoice(QComboBox *list, const Field *lookup, QAbstractItemModel *model,
                           const QModelIndex &index) const;

    CellPainter m_cellPainter;
};
