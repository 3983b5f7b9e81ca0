#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

class ClassesRoot;
class DBGrid;
class DataSet;
class DataSource;
class QLabel;
class QPainter;
class QProgressDialog;
class QPushButton;
class TStreamPacker;

// What a record editor tells its attached-files grid: the files query of its
// record, the data source the grid shows, and where the owner key of a new
// file comes from.
struct FilesOwner
{
    DataSource *files; // dm.dsFirmFiles or dm.dsItemFiles
    DataSet *record;   // dm.tblFirms or dm.tblItem
    QString keyField;  // "FirmID" or "ItemID"
};

// The attached files of the record an editor shows: the label "Файлы", the
// grid `DBGrid1` (type icon, description, hidden short name) and the buttons
// `cmdAdd`, `cmdChange`, `cmdDelete` in a column beside it. A double click
// unpacks the file into a private temporary folder, runs the program of its
// type, waits for it and offers to store the changed file back.
//
// Every operation checks what it reads before it changes a row, so a file
// that cannot be read, a blob that does not unpack or a program that fails
// leaves the stored rows as they were.
class FilesPanel : public QWidget
{
    Q_OBJECT
public:
    FilesPanel(const FilesOwner &owner, const ClassesRoot &classesRoot, QWidget *parent = nullptr);
    ~FilesPanel() override;

    QLabel *label = nullptr;
    DBGrid *DBGrid1 = nullptr;
    QPushButton *cmdAdd = nullptr;
    QPushButton *cmdChange = nullptr;
    QPushButton *cmdDelete = nullptr;

    // Stores a pending description (Enter in the grid, the grid left, the
    // editor closed).
    void postPending();

    void cmdAddClick();
    void cmdChangeClick();
    void cmdDeleteClick();
    void DBGrid1DblClick();
    void DBGrid1DrawColumnCell(QPainter *painter, const QRect &rect, int row, int column);

private:
    DataSet &files() const;
    QString chooseFile();
    // The file's bytes packed; throws with a message for the user when the
    // file cannot be read or is too large.
    QByteArray packFile(const QString &path);
    QByteArray unpack(const QByteArray &blob);
    QByteArray runPacker(TStreamPacker *packer, const QString &what);
    void showProgress(TStreamPacker *packer);
    void storeBack(const QString &path);
    void writeCopy(const QString &path, const QByteArray &bytes);
    void keepWindowAlive();

    FilesOwner m_owner;
    const ClassesRoot &m_classesRoot;
    // Packs at the highest level; unpacks.
    TStreamPacker *Packer;
    TStreamPacker *UnPacker;
    QProgressDialog *m_progress = nullptr;
    QElapsedTimer m_sinceRepaint;
};
