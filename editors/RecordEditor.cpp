#include "RecordEditor.h"

#include "Application.h"

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
