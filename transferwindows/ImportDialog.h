#pragma once

#include "Import.h"

#include <QDialog>

class QButtonGroup;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class Session;

// The import window: which column fills which field and which hold the
// records' types and folders (headers that name one are mapped already), the
// first rows of the file numbered as its lines with the refused ones marked,
// the folder and group for new records, what to do with names the catalogue
// has, and what the import will do, shown before anything is written. It
// never grows past the screen, whatever the file holds.
class ImportDialog : public QDialog
{
    Q_OBJECT
public:
    ImportDialog(QWidget *parent, Session &session, TextTable table, Import::Target target,
                 const QString &fileName);

    Import::Options options() const;
    const Import::Plan &plan() const { return m_plan; }
    // Writes the records with a progress window; true when done, false when cancelled.
    bool runImport();

private:
    QWidget *makeMapping();
    QWidget *makePreview();
    QWidget *makeDestination();
    void addChoice(class QFormLayout *form, const QString &label, QComboBox *box);
    void fitScreen();
    void replan();

    Session &m_session;
    TextTable m_table;
    Import::Target m_target;
    Import::Known m_known;
    QStringList m_fields;         // the text fields, then the membership lists
    QList<QComboBox *> m_columns; // one per field
    QComboBox *m_folder = nullptr;
    QComboBox *m_group = nullptr;
    QButtonGroup *m_existing = nullptr;
    QLabel *m_summary = nullptr;
    QPlainTextEdit *m_refusals = nullptr;
    Import::Plan m_plan;
};
