#include "RecordEditor.h"

#include "Application.h"
#include "DataSet.h"
#include "WindowPlaces.h"

#include <QHideEvent>
#include <QLineEdit>

RecordEditor::RecordEditor(QWidget *owner, const ClassesRoot &classesRoot)
    : QDialog(owner), m_classesRoot(classesRoot)
{
    setSizeGripEnabled(true);
}

void RecordEditor::reject()
{
    if (Application::guarded([this] { FormClose(); }))
        QDialog::reject();
}

void RecordEditor::showCaption(const QString &name)
{
    m_name = name;
    setWindowTitle(m_changedElsewhere ? name + QStringLiteral(" — изменена другим пользователем")
                                      : name);
}

void RecordEditor::watchRecord(DataSet &record)
{
    connect(&record, &DataSet::editedElsewhere, this, [this] {
        m_changedElsewhere = true;
        showCaption(m_name);
    });
    // Saved, or given up: what this desk shows is the stored record again.
    connect(&record, &DataSet::stateChanged, this, [this, &record] {
        if (record.state() == DataSetState::Browse && m_changedElsewhere) {
            m_changedElsewhere = false;
            showCaption(m_name);
        }
    });
}

void RecordEditor::hideEvent(QHideEvent *event)
{
    if (!event->spontaneous())
        WindowPlaces::rememberSize(this);
    QDialog::hideEvent(event);
}

void RecordEditor::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_newRecord && m_nameBox) {
        m_nameBox->setFocus();
        m_nameBox->selectAll();
    }
}
