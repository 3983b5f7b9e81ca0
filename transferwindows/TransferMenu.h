#pragma once

#include <QObject>
#include <functional>

class FileIndexer;
class ImportDialog;
class QAction;
class QMenu;
class QToolBar;
class QToolButton;
class TMainForm;

// The main window's way to other catalogues, backups and spreadsheets: a toolbar button of its
// own at the end of the bar, whose menu also opens with F10.
class TransferMenu : public QObject
{
    Q_OBJECT
public:
    TransferMenu(TMainForm *window, QToolBar *bar);

    QToolButton *button() const { return m_button; }
    QMenu *menu() const { return m_menu; }

    void openCatalogueClick(); // a folder or a server, kept for the next start
    void backupClick();
    void restoreClick();
    // Export of the list of the open tab: as shown (its folder and group
    // conditions applied) or every record.
    void exportShownClick();
    void exportWholeClick();
    void vCardClick();  // the current firm as an address-book card
    void importClick(); // into the list of the open tab

    // The index of attached files: its pause switch and its list of files
    // whose text could not be read join the menu; a restore makes the index
    // follow the restored catalogue. Another catalogue brings another
    // indexer (nullptr while there is none); the commands stay in place.
    void setFileIndexer(FileIndexer *indexer);
    void skippedFilesClick();

private:
    void exportList(bool whole);
    bool firmsShown() const;
    void addCommand(const char *name, const QString &text, void (TransferMenu::*handler)());
    void reloadCatalogue();
    void addIndexingCommands();

    TMainForm *m_window;
    QMenu *m_menu;
    FileIndexer *m_indexer = nullptr;
    QAction *m_pauseIndexing = nullptr;
    QToolButton *m_button;
};

// The automatic backup of the catalogue at exit: a failure is told, never
// stops the exit.
void backupAtExit(QWidget *parent);

// Test seam: shows the import window instead of its modal loop; true when
// the import was carried out.
void setImportWindowRunner(std::function<bool(ImportDialog &)> runner);
