#pragma once

#include "DataSource.h"
#include "Query.h"
#include "Table.h"

#include <QObject>
#include <QTimer>
#include <memory>

class Session;
class StorageUi;

// The data module: owns the connection context and every dataset that more
// than one window uses, the program-wide state (settings read at start-up,
// list filters, the attach-file state) and the handlers that keep related
// rows in step: cascading deletes, relation rows, the attached-file guard
// and the save after every post.
class Tdm : public QObject
{
    Q_OBJECT
public:
    explicit Tdm(StorageUi &ui, QObject *parent = nullptr);
    ~Tdm() override;

    // Reads the settings, makes sure the alias exists, checks the tables when
    // asked to, then opens every dataset in the order of its data source.
    // A failure ends the step where it happened and propagates.
    void DataModuleCreate();

    // The data directory an alias created on first start points at: "Data"
    // beside the program where that can be written, else the user's data folder.
    static QString defaultDataDirectory();
    // Creates the alias on first start (and saves it) with its data directory;
    // returns where the catalogue lives: a folder or a server address.
    // `created` tells whether this start made the alias.
    static QString ensureAlias(bool *created = nullptr);
    // Makes the alias name `location` (a folder or a server address) for the
    // rest of this run; with `keep`, the next starts open it too (the alias is
    // saved without a password).
    static void chooseCatalogue(const QString &location, bool keep);
    // A data folder that is gone (an unmounted drive, a moved folder) is
    // said to be gone, and made anew only when this is the first start or the
    // user asks for a new catalogue; otherwise EAbort.
    static void requireDataDirectory(const QString &directory, bool firstStart, StorageUi &ui);
    // The words that say the data folder is gone.
    static QString missingFolderText(const QString &directory);

    // The table files the description declares (none when it cannot be read:
    // the structure check then says why).
    static QStringList describedTables();

    Session *Main_sess() const { return m_session.get(); }

    // The list rebuilds: the condition line of the list query from the folder
    // and group conditions, joined with " and ", then the list reopened.
    void RebuildFirmQuery();
    void RebuildItemQuery();
    void tblFolderAfterScroll(DataSet &dataSet);

    // Removes the record `record` (tblFirms or tblItem) stands on, which the
    // user has just added and left unfilled: no question asked, and its group
    // memberships go with its files, folders and relations.
    void removeUnfilled(Table &record);

    // Data sources in declaration order, and their datasets closed or opened
    // in that order (around a manual check or pack).
    QList<DataSource *> dataSources();
    void closeDataSets();
    void openDataSets();

    StorageUi &ui() const { return m_ui; }

    // Datasets and their data sources, in declaration order.
    Table tblFirms, tblItem, tblFolder, tblGrpFirm, tblGrpItem, tblCrFirmFolder;
    Query qFirmFiles, qFSaler, qFMaker;
    Table tblCrItemFolder;
    Query qItemFiles, qListFirm, TMPQuery, qFirms, qItems, qListFolders;
    Table tblGrpFrm, tblGrpItm;
    DataSource dsFirms, dsItems, dsFolder, dsGrpFirm, dsGrpItem, dsCrFirmFolder, dsFirmFiles,
        dsFSaler, dsFMaker, dsCrItemFolder, dsItemFiles, dsListFirm, dsMainFirms, dsMainItems,
        dsListFolders, dsGrpFrm, dsGrpItm;

    // Program-wide state.
    bool CheckOnLoad = true;
    bool PackOnCheck = false;
    bool FolderFilter = false;
    QString FolderFirmFilter, FolderItemFilter, GroupFirmFilter, GroupItemFilter;
    QString LastFileDir = QStringLiteral("..");
    bool FileAppendAllowed = false;

signals:
    // DataModuleCreate has opened a session on the catalogue the alias names.
    void catalogueOpened();
    // An attached-file row was posted (added, replaced, stored back, renamed).
    void attachedFilePosted(qint64 fileId);
    // Attached-file rows were deleted, on their own or with their firm or item.
    void attachedFilesDeleted();
    // Other desks changed these tables (stems in upper case, "FIRMS"; "*" for any).
    void changedElsewhere(const QStringList &tables);

private:
    void declareDataSets();
    void declareFirmChain();
    void declareItemChain();
    void declareLists();
    // The table holds the rows whose `key` equals the master's current `key`.
    void followByKey(Table &table, const QString &file, DataSource *master, const QString &key);
    void declareMembershipFields(Table &table);
    void declareFileFields(Query &files, int descriptionSize);
    void declareRelationFields(Query &relation);
    void readSettings();
    // The start-up check against base.ini.
    void checkStructure();
    // Objects in the table files that the program did not create: removed
    // when the user agrees, else the catalogue is opened read-only.
    void guardAgainstForeignObjects();
    void bindSession();

    void allTablesAfterPost(DataSet &dataSet);
    void followOtherDesks();
    void tblFolderAfterPost(DataSet &dataSet);
    // Sets the folder conditions from the current folder; false while it has no key.
    bool setFolderConditions(const DataSet &folders);
    void followNewFolder(const DataSet &folders);
    void tblFirmBeforeDelete(DataSet &dataSet);
    void tblItemBeforeDelete(DataSet &dataSet);
    void tblFolderBeforeDelete(DataSet &dataSet);
    void qFirmFilesBeforeInsert(DataSet &dataSet);
    // A folder membership without its folder, or a maker or seller row
    // without its firm, says nothing: it is dropped (with a silent abort of
    // the post) rather than stored.
    static void dropUnchosen(DataSet &dataSet, const QString &chosenField);
    void setRelationRow(DataSet &dataSet, const QString &type);
    void confirmDeletion(const QString &name);
    void runCascade(const QStringList &statements);
    void rebuildList(Query &list, const QString &folderCondition, const QString &groupCondition);

    StorageUi &m_ui;
    std::unique_ptr<Session> m_session;
    // Looks for other desks' changes while the datasets are open: a few
    // times a second, so that a change shows within one.
    QTimer m_otherDesks;
    // Set while a deletion the user has already agreed to runs.
    bool m_deletionAgreed = false;
};

// The one data module of the program.
extern Tdm *dm;
