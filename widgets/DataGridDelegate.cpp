#include "DataGridDelegate.h"

#include "Application.h"
#include "DataGridModel.h"
#include "DataSet.h"
#include "DataSource.h"
#include "Field.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>

namespace {

const Field *fieldAt(const QModelIndex &index)
{
    const auto *model = qobject_cast<const DataGridModel *>(index.model());
    return model ? model->field(index.column()) : nullptr;
}

bool isLookup(const Field *field)
{
    return field && field->isLookup() && field->lookupDataSet();
}

// Finds a row of a lookup drop-down as the user types the first letters of
// its text, with the lookup list's own locate: matching row by row would read
// a list of every firm whole. A pause starts a new search.
class TypeToFind : public QObject
{
public:
    TypeToFind(QComboBox *list, const Field *lookup) : QObject(list), m_list(list), m_lookup(lookup)
    {
        m_pause.start();
        list->installEventFilter(this);
        list->view()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        const QString text = key->text();
        if (key->key() == Qt::Key_Backspace && !m_typed.isEmpty())
            m_typed.chop(1);
        else if (!text.isEmpty() && text.at(0).isPrint() &&
                 !(key->modifiers() & Qt::ControlModifier))
            m_typed = (m_pause.elapsed() > pauseMs ? QString() : m_typed) + text;
        else
            return false;
        m_pause.restart();
        Application::guarded([this] { find(); });
        return true;
    }

private:
    static constexpr int pauseMs = 1000;

    void find()
    {
        DataSet *rows = m_lookup->lookupDataSet();
        if (m_typed.isEmpty() ||
            !rows->locate(m_lookup->lookupResultFieldName(), m_typed,
                          LocateCaseInsensitive | LocatePartialKey | LocateAsRead))
            return;
        m_list->setCurrentIndex(rows->recNo());
        if (m_list->view()->isVisible())
            m_list->view()->setCurrentIndex(m_list->model()->index(rows->recNo(), 0));
    }

    QComboBox *m_list;
    const Field *m_lookup;
    QString m_typed;
    QElapsedTimer m_pause;
};

} // namespace

DataGridDelegate::DataGridDelegate(QObject *parent) : QStyledItemDelegate(parent) {}

QWidget *DataGridDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &,
                                        const QModelIndex &index) const
{
    const Field *edited = fieldAt(index);
    if (!edited)
        return nullptr;
    if (isLookup(edited))
        return createLookupList(parent, edited);
    auto *line = new QLineEdit(parent);
    line->setFrame(false);
    if (edited->kind() == FieldKind::String && edited->size() > 0)
        line->setMaxLength(edited->size());
    return line;
}

// The drop-down reads the lookup list through a model of its own, so that a
// list of every firm is read a screen at a time like any grid.
QComboBox *DataGridDelegate::createLookupList(QWidget *parent, const Field *lookup) const
{
    auto *list = new QComboBox(parent);
    // Every row one height, set before the list gets its rows and its style:
    // a list view lays out items of varying height by measuring each, and
    // that would read every firm of the catalogue.
    if (auto *view = qobject_cast<QListView *>(list->view()))
        view->setUniformItemSizes(true);
    auto *source = new DataSource(list);
    source->setDataSet(lookup->lookupDataSet());
    auto *rows = new DataGridModel(list);
    rows->setDataSource(source);
    GridColumn result;
    result.fieldName = lookup->lookupResultFieldName();
    rows->setColumns({result});
    rows->setReadOnly(true);
    list->setModel(rows);
    // Sizing to the contents would read every row of the list; so would the
    // popup style of drop-down, which measures every row before it opens.
    list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    list->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    list->setMaxVisibleItems(20);
    new TypeToFind(list, lookup);
    // Choosing a row stores it at once. Qt declares createEditor const; the
    // commit is the delegate's own signal all the same.
    auto *self = const_cast<DataGridDelegate *>(this);
    connect(list, &QComboBox::activated, self, [self, list] { emit self->commitData(list); });
    return list;
}

void DataGridDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    const Field *edited = fieldAt(index);
    if (auto *list = qobject_cast<QComboBox *>(editor); list && isLookup(edited)) {
        Application::guarded([&] { showLookupChoice(list, edited); });
        return;
    }
    if (auto *line = qobject_cast<QLineEdit *>(editor))
        line->setText(index.data(Qt::EditRole).toString());
}

// The drop-down opens on the row of the record's key. Finding that row is the
// lookup list's own locate, which also makes it the list's current record.
void DataGridDelegate::showLookupChoice(QComboBox *list, const Field *lookup) const
{
    const QVariant key = lookup->dataSet()->fieldByName(lookup->keyFieldName())->value();
    DataSet *rows = lookup->lookupDataSet();
    const bool found = !key.isNull() && rows->locate(lookup->lookupKeyFieldName(), key);
    list->setCurrentIndex(found ? rows->recNo() : -1);
}

void DataGridDelegate::setModelData(QWidget *editor, QAbstractItemModel *model,
                                    const QModelIndex &index) const
{
    const Field *edited = fieldAt(index);
    if (auto *list = qobject_cast<QComboBox *>(editor); list && isLookup(edited)) {
        Application::guarded([&] { storeLookupChoice(list, edited, model, index); });
        return;
    }
    if (auto *line = qobject_cast<QLineEdit *>(editor))
        Application::guarded([&] { model->setData(index, line->text(), Qt::EditRole); });
}

// The key is taken from the chosen row itself: two firms of the same name
// are still two different choices.
void DataGridDelegate::storeLookupChoice(QComboBox *list, const Field *lookup,
                                         QAbstractItemModel *model, const QModelIndex &index) const
{
    const int row = list->currentIndex();
    if (row < 0)
        return;
    DataSet *rows = lookup->lookupDataSet();
    const QVariant key = rows->displayValue(row, rows->fieldByName(lookup->lookupKeyFieldName()));
    model->setData(index, key, DataGridModel::LookupKeyRole);
}

void DataGridDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    if (m_cellPainter)
        m_cellPainter(painter, option.rect, index.row(), index.column());
}

bool DataGridDelegate::eventFilter(QObject *object, QEvent *event)
{
    auto *editor = qobject_cast<QWidget *>(object);
    if (!editor || event->type() != QEvent::KeyPress)
        return QStyledItemDelegate::eventFilter(object, event);
    auto *key = static_cast<QKeyEvent *>(event);
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Stored at once, not later from the event queue: the window posts
        // the record on this very key.
        emit commitData(editor);
        emit closeEditor(editor, NoHint);
        break;
    case Qt::Key_Escape:
        emit closeEditor(editor, RevertModelCache);
        break;
    default:
        return QStyledItemDelegate::eventFilter(object, event);
    }
    emit editorKeyPressed(key);
    return true;
}
