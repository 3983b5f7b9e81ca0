#include "DBEdit.h"

#include "Application.h"
#include "DataSet.h"
#include "DataSource.h"
#include "Field.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QScopedValueRollback>

namespace {

// QLineEdit's own limit, for fields that set none.
constexpr int unlimitedLength = 32767;

} // namespace

DBEdit::DBEdit(QWidget *parent) : QLineEdit(parent)
{
    connect(this, &QLineEdit::textEdited, this, &DBEdit::storeText);
}

void DBEdit::setDataSource(DataSource *source)
{
    for (const auto &connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
    m_source = source;
    if (m_source) {
        m_connections << connect(m_source, &DataSource::dataSetReset, this, &DBEdit::followRecord)
                      << connect(m_source, &DataSource::dataSetChanged, this, &DBEdit::followRecord)
                      << connect(m_source, &DataSource::currentMoved, this, &DBEdit::followRecord)
                      << connect(m_source, &DataSource::rowChanged, this, &DBEdit::followRow)
                      << connect(m_source, &DataSource::stateChanged, this, &DBEdit::followRecord)
                      << connect(m_source, &DataSource::fieldChanged, this, &DBEdit::fieldChanged);
    }
    followRecord();
}

// The record shown was read again (another desk changed it): shown anew,
// unless this desk is editing it.
void DBEdit::followRow(int row)
{
    const DataSet *data = dataSet();
    if (data && row == data->recNo() && data->state() == DataSetState::Browse)
        followRecord();
}

void DBEdit::setFieldName(const QString &name)
{
    m_fieldName = name;
    followRecord();
}

DataSet *DBEdit::dataSet() const
{
    return m_source ? m_source->dataSet() : nullptr;
}

Field *DBEdit::field() const
{
    DataSet *data = dataSet();
    return data && data->active() ? data->findField(m_fieldName) : nullptr;
}

void DBEdit::showValue()
{
    if (m_storing)
        return;
    const Field *shown = field();
    const bool sized = shown && shown->kind() == FieldKind::String && shown->size() > 0;
    setMaxLength(sized ? shown->size() : unlimitedLength);
    setReadOnly(!shown || shown->isReadOnly() || !shown->dataSet()->canModify());
    setText(shown ? shown->asString() : QString());
}

void DBEdit::followRecord()
{
    showValue();
    // A record shown as stored (another one, or this one posted or
    // cancelled) is what Esc goes back to.
    const DataSet *data = dataSet();
    if (!data || (data->state() != DataSetState::Edit && data->state() != DataSetState::Insert))
        rememberEntryValue();
}

void DBEdit::rememberEntryValue()
{
    const Field *shown = field();
    m_valueOnEntry = shown ? shown->value() : QVariant();
}

void DBEdit::focusInEvent(QFocusEvent *event)
{
    // Focus that comes back from another window (a message box, a drop-down)
    // is no new entry into the box.
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
        rememberEntryValue();
    QLineEdit::focusInEvent(event);
}

void DBEdit::fieldChanged(const QString &name)
{
    if (name.compare(m_fieldName, Qt::CaseInsensitive) == 0)
        showValue();
}

void DBEdit::storeText(const QString &text)
{
    Field *edited = field();
    if (!edited)
        return;
    const bool stored = Application::guarded([&] {
        QScopedValueRollback storing(m_storing, true);
        edited->dataSet()->edit();
        edited->setAsString(text);
    });
    // A refused edit shows the record as it is.
    if (!stored)
        showValue();
}

// Only the box's own field goes back; the record stays in edit with what the
// other boxes hold. A second Esc finds nothing to undo.
void DBEdit::undoOwnChange()
{
    Field *edited = field();
    if (!edited || edited->value() == m_valueOnEntry)
        return;
    Application::guarded([&] {
        edited->dataSet()->edit();
        edited->setValue(m_valueOnEntry);
    });
}

void DBEdit::keyPressEvent(QKeyEvent *event)
{
    const DataSet *data = dataSet();
    if (event->key() == Qt::Key_Escape && data && data->active()) {
        undoOwnChange();
        showValue();
        // Esc here is the box's own: it does not close the window.
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}
