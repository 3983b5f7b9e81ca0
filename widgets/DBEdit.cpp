#include "DBEdit.h"

#include "Application.h"
#include "DataSet.h"
#include "DataSource.h"
#include "Field.h"

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
        m_connections << connect(m_source, &DataSource::dataSetReset, this, &DBEdit::showValue)
                      << connect(m_source, &DataSource::dataSetChanged, this, &DBEdit::showValue)
                      << connect(m_source, &DataSource::currentMoved, this, &DBEdit::showValue)
                      << connect(m_source, &DataSource::stateChanged, this, &DBEdit::showValue)
                      << connect(m_source, &DataSource::fieldChanged, this, &DBEdit::fieldChanged);
    }
    showValue();
}

void DBEdit::setFieldName(const QString &name)
{
    m_fieldName = name;
    showValue();
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

void DBEdit::keyPressEvent(QKeyEvent *event)
{
    DataSet *data = dataSet();
    if (event->key() == Qt::Key_Escape && data && data->active()) {
        Application::guarded([data] { data->cancel(); });
        showValue();
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}
