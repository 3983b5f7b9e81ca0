#include "DBGrid.h"

#include "Application.h"
#include "DataGridDelegate.h"
#include "DataSet.h"
#include "DataSource.h"
#include "Dialogs.h"

#include <QAbstractButton>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScopedValueRollback>
#include <QScrollBar>

namespace {

// Wide enough for the marker of the current row and nothing else; also the
// narrowest a column may be.
constexpr int indicatorWidth = 16;

// The light blue of the fixed cells, set on the title and indicator headers
// and the corner alone: a style sheet on the grid itself would give its cells
// the application's font instead of the window's.
void paintFixedCellsLightBlue(QTableView *grid)
{
    const QString blue = QColor(DBGrid::fixedCellColor).name();
    // A style sheet cuts the headers off from the grid's font, so the sheet
    // names the grid's font itself; it is written again when that font changes.
    const QFontInfo font(grid->font());
    const QString section =
        QStringLiteral("QHeaderView { font-family: \"%2\"; font-size: %3px; }"
                       "QHeaderView::section { background-color: %1; border: 0px;"
                       " border-right: 1px solid gray; border-bottom: 1px solid gray;"
                       " padding: 0px 2px; }")
            .arg(blue, grid->font().family())
            .arg(font.pixelSize());
    grid->horizontalHeader()->setStyleSheet(section);
    grid->verticalHeader()->setStyleSheet(section);
    if (auto *corner = grid->findChild<QAbstractButton *>())
        corner->setStyleSheet(
            QStringLiteral("QAbstractButton { background-color: %1; border: 0px; }").arg(blue));
}

} // namespace

DBGrid::DBGrid(QWidget *parent)
    : QTableView(parent), m_model(new DataGridModel(this)), m_delegate(new DataGridDelegate(this))
{
    setModel(m_model);
    setItemDelegate(m_delegate);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    // Tab goes on to the window's next control rather than the next cell.
    setTabKeyNavigation(false);
    // Rows all have one height: measuring rows one by one would read every record.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setFixedWidth(indicatorWidth);
    verticalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // Narrow columns (an icon beside each row) keep the width they are given.
    horizontalHeader()->setMinimumSectionSize(indicatorWidth);
    horizontalHeader()->setHighlightSections(false);
    applyRowHeight();
    updateEditTriggers();

    m_delegate->setCellPainter([this](QPainter *painter, const QRect &rect, int row, int column) {
        emit drawColumnCell(painter, rect, row, column);
    });
    connect(m_delegate, &DataGridDelegate::editorKeyPressed, this,
            [this](QKeyEvent *event) { keyPressEvent(event); });
    connect(m_model, &QAbstractItemModel::modelReset, this, &DBGrid::followDataSet);
    m_focusConnection = connect(qApp, &QApplication::focusChanged, this, &DBGrid::focusMoved);
}

// Destroying the grid and its editor moves the focus; by then this grid can
// no longer hear of it.
DBGrid::~DBGrid()
{
    disconnect(m_focusConnection);
}

void DBGrid::setDataSource(DataSource *source)
{
    disconnect(m_followConnection);
    disconnect(m_rereadConnection);
    m_model->setDataSource(source);
    if (source) {
        m_followConnection =
            connect(source, &DataSource::currentMoved, this, &DBGrid::followDataSet);
        // Rows read again under the grid: the current record keeps its
        // row, wherever the rows above it went.
        m_rereadConnection =
            connect(source, &DataSource::dataSetChanged, this, &DBGrid::followDataSet);
    }
    followDataSet();
}

DataSource *DBGrid::dataSource() const
{
    return m_model->dataSource();
}

DataSet *DBGrid::dataSet() const
{
    return m_model->dataSet();
}

void DBGrid::setColumns(const QList<GridColumn> &columns)
{
    m_model->setColumns(columns);
    applyColumnLayout();
}

const QList<GridColumn> &DBGrid::columns() const
{
    return m_model->columns();
}

void DBGrid::applyColumnLayout()
{
    const QList<GridColumn> &declared = columns();
    for (int i = 0; i < declared.size(); ++i) {
        setColumnWidth(i, declared[i].width);
        setColumnHidden(i, !declared[i].visible);
    }
}

void DBGrid::applyRowHeight()
{
    paintFixedCellsLightBlue(this);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
}

int DBGrid::heightForRows(int rows) const
{
    const int titles = horizontalHeader()->isHidden() ? 0 : horizontalHeader()->sizeHint().height();
    return titles + rows * verticalHeader()->defaultSectionSize() +
           horizontalScrollBar()->sizeHint().height() + 2 * frameWidth();
}

void DBGrid::setTitlesVisible(bool visible)
{
    horizontalHeader()->setVisible(visible);
}

void DBGrid::setRowIndicatorVisible(bool visible)
{
    verticalHeader()->setVisible(visible);
}

void DBGrid::setReadOnly(bool readOnly)
{
    m_readOnly = readOnly;
    updateEditTriggers();
}

bool DBGrid::isReadOnly() const
{
    return m_readOnly;
}

void DBGrid::setEditingAllowed(bool allowed)
{
    m_editingAllowed = allowed;
    updateEditTriggers();
}

void DBGrid::updateEditTriggers()
{
    const bool editable = !m_readOnly && m_editingAllowed;
    m_model->setReadOnly(!editable);
    // A double click is the window's (it opens the record), not an edit.
    setEditTriggers(editable ? SelectedClicked | EditKeyPressed | AnyKeyPressed : NoEditTriggers);
}

void DBGrid::keyPressEvent(QKeyEvent *event)
{
    Application::guarded([&] { handleKey(event); });
}

void DBGrid::handleKey(QKeyEvent *event)
{
    emit keyDown(event->key(), event->modifiers(), event->text());
    if (handleOwnKey(event))
        event->accept();
    else
        QTableView::keyPressEvent(event);
    for (const QChar character : event->text())
        emit keyPress(character);
}

bool DBGrid::handleOwnKey(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    switch (event->key()) {
    case Qt::Key_Insert:
        if (modifiers != Qt::NoModifier || !canAddRows())
            return false;
        commitOpenEditor();
        dataSet()->insert();
        return true;
    case Qt::Key_Down:
        if (modifiers != Qt::NoModifier || !atLastRow() || !canAddRows())
            return false;
        addRowBelowLast();
        return true;
    case Qt::Key_Delete:
        if (modifiers != Qt::ControlModifier || !canDeleteRows())
            return false;
        deleteCurrentRow();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // A read-only grid is a list to open records from: Enter opens the
        // current row as a double click does, and presses no button of the window.
        if (!m_readOnly || modifiers != Qt::NoModifier)
            return false;
        emit dblClicked();
        return true;
    case Qt::Key_Escape:
        // A read-only grid has nothing to cancel: Esc goes on to its window,
        // whose cancel button closes it.
        if (m_readOnly)
            return false;
        cancelChanges();
        return true;
    default:
        return false;
    }
}

bool DBGrid::canAddRows() const
{
    return !m_readOnly && m_editingAllowed && dataSet() && dataSet()->canModify();
}

bool DBGrid::canDeleteRows() const
{
    return !m_readOnly && dataSet() && dataSet()->canModify() && dataSet()->displayRowCount() > 0;
}

bool DBGrid::atLastRow() const
{
    const DataSet *data = dataSet();
    return data && data->active() && data->recNo() == data->displayRowCount() - 1;
}

void DBGrid::addRowBelowLast()
{
    commitOpenEditor();
    // A new row nobody typed into is dropped first, so Down on it adds no second one.
    dataSet()->append();
}

void DBGrid::deleteCurrentRow()
{
    if (m_confirmDelete && !Dialogs::confirm(this, QStringLiteral("Удалить запись?")))
        return;
    dataSet()->deleteRecord();
}

void DBGrid::cancelChanges()
{
    if (DataSet *data = dataSet(); data && data->active())
        data->cancel();
}

// Keys that act on the record (Insert, Down) take what is typed in the open
// editor along, as moving to another cell would.
void DBGrid::commitOpenEditor()
{
    if (state() != EditingState)
        return;
    QWidget *editor = QApplication::focusWidget();
    while (editor && editor->parentWidget() != viewport())
        editor = editor->parentWidget();
    if (!editor)
        return;
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void DBGrid::mouseDoubleClickEvent(QMouseEvent *event)
{
    QTableView::mouseDoubleClickEvent(event);
    Application::guarded([this] { emit dblClicked(); });
}

void DBGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    // An open editor writes into the record being left before the cursor moves.
    QTableView::currentChanged(current, previous);
    DataSet *data = dataSet();
    if (m_following || !current.isValid() || !data || current.row() == data->recNo())
        return;
    // Moving posts a changed record first; when that fails the cursor stays.
    Application::guarded([&] { data->moveTo(current.row()); });
    followDataSet();
}

void DBGrid::followDataSet()
{
    const DataSet *data = dataSet();
    const int row = data ? data->recNo() : -1;
    // A row the model has not been told of yet: its reset follows.
    if (row >= m_model->rowCount())
        return;
    QScopedValueRollback following(m_following, true);
    if (row < 0) {
        selectionModel()->clear();
        return;
    }
    int column = currentIndex().isValid() ? currentIndex().column() : 0;
    while (column + 1 < m_model->columnCount() && isColumnHidden(column))
        ++column;
    setCurrentIndex(m_model->index(row, column));
}

// The windows search the list as the user types; the view's own search would
// read every row to find a match.
void DBGrid::keyboardSearch(const QString &) {}

void DBGrid::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        applyRowHeight();
    QTableView::changeEvent(event);
}

void DBGrid::focusMoved(QWidget *from, QWidget *to)
{
    // Focus that goes to another window (a message box) comes back to the grid.
    if (!contains(from) || contains(to) || !to || to->window() != window())
        return;
    Application::guarded([this] { leave(); });
}

bool DBGrid::contains(const QWidget *widget) const
{
    // Walks up across windows too: a drop-down list is a window of its own.
    for (; widget; widget = widget->parentWidget()) {
        if (widget == this)
            return true;
    }
    return false;
}

void DBGrid::leave()
{
    DataSet *data = dataSet();
    if (data && data->state() == DataSetState::Insert && !data->modified())
        data->cancel();
    emit exited();
}
