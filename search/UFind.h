#pragma once

#include "DataSource.h"
#include "FileMatches.h"
#include "Query.h"

#include <QDialog>

class DBGrid;
class FileIndexer;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class RadioGroup;

// The search window: finds firms or items whose name, synonyms and
// description contain the texts typed, lists them, and opens a found record in
// its editor. Created once at start-up and kept for the whole run, so that its
// texts, joiners and last result stay as the user left them.
class TfrmFind : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmFind(QWidget *owner = nullptr);

    // Controls by their design names.
    RadioGroup *RadioGroup1;                  // scope: "Фирмы" (0) or "Элементы" (1)
    QLineEdit *Edit1, *Edit2, *Edit3;         // name, synonyms, description
    QComboBox *ComboBox1;                     // joins the name and synonyms conditions
    QComboBox *ComboBox2;                     // joins the synonyms and description conditions
    QCheckBox *CheckBox1;                     // the name text is sought in all three fields
    QPushButton *Button1, *Button2, *Button3; // "Найти", "Новый поиск", "Закрыть"
    DBGrid *DBGrid1;
    QLabel *StatusPanel;
    // The name text is also sought inside the records' attached files.
    QCheckBox *CheckBoxInFiles;
    // The matched file and its words for the current found record.
    QLabel *FileMatchLabel;

    Query qFind;
    DataSource dsFind;

    void FormCreate();
    void Button1Click();
    void Button2Click();
    void CheckBox1Click();
    // Opens the found record under the cursor in its editor.
    void DBGrid1DblClick();

    // The index the attached-files search asks; without one the box is greyed.
    void setFileIndexer(FileIndexer *indexer);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void placeWindow();
    QWidget *makeSearchPanel();
    QWidget *makeButtonColumn();
    void makeResultList();
    void findInFiles(int scope, QString &sql);
    void showFileColumn(bool shown);
    qint64 ownerKeyAt(int row) const;
    void paintFileMatch(QPainter *painter, const QRect &rect, int row, int column);
    void showCurrentFileMatch();
    FileIndexer *m_indexer = nullptr;
    FileMatches m_fileMatches;
    // The kind of the rows listed: the scope of the search that found them.
    int m_foundScope = 0;
};

extern TfrmFind *frmFind;
