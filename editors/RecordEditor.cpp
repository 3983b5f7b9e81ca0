#include "RecordEditor.h"

#include "Application.h"
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
