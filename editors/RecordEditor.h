#pragma once

#include <QDialog>

class ClassesRoot;

// What the firm and the item editor have in common: a modal window with no
// OK and no Cancel whose closing, by any way, stores what is pending. When
// storing fails the window stays open with the error shown.
class RecordEditor : public QDialog
{
    Q_OBJECT
public:
    // The file types of `classesRoot` give attached files their icons and
    // programs.
    RecordEditor(QWidget *owner, const ClassesRoot &classesRoot);

    // Stores what is pending and refreshes the lists that show the record.
    virtual void FormClose() = 0;

public slots:
    // Every way of closing comes here: "Закрыть" and the close box through
    // the close event, Esc directly.
    void reject() override;

protected:
    const ClassesRoot &m_classesRoot;
};
