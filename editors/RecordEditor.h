#pragma once

#include <QDialog>

class ClassesRoot;
class DataSet;
class QLineEdit;

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

    // The record was just added: the window opens with its name selected, so
    // that the first key typed replaces the name it was given.
    void openOnNewRecord() { m_newRecord = true; }

public slots:
    // Every way of closing comes here: "Закрыть" and the close box through
    // the close event, Esc directly.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

    // The record's name as the caption; while another desk's change to the
    // record being edited is known, the caption says so too.
    void showCaption(const QString &name);
    // Follows `record` for changes other desks make while it is edited here.
    void watchRecord(DataSet &record);

    const ClassesRoot &m_classesRoot;
    // The record's name box, set by the window that builds it.
    QLineEdit *m_nameBox = nullptr;

private:
    bool m_newRecord = false;
    QString m_name;
    bool m_changedElsewhere = false;
};
