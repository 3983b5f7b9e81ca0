#include "UData.h"

#include "Aliases.h"
#include "BaseMaker.h"
#include "CatalogueLocation.h"
#include "EngineError.h"
#include "Session.h"
#include "SettingsStore.h"
#include "StorageUi.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QSet>
#include <QStandardPaths>
#include <algorithm>

Tdm *dm = nullptr;

namespace {

const QString aliasName = QStringLiteral("Quillon");

// The driver line of an alias says which kind of catalogue it names, for a
// person reading the file; the location itself tells the program.
QString driverFor(const QString &location)
{
    return CatalogueLocation::isServer(location) ? QStringLiteral("PostgreSQL")
                                                 : QStringLiteral("Paradox");
}

// Whether this run made the alias: start-up may ask for it more than once
// (a restore cut short is completed before the data module opens the tables).
bool aliasMadeThisRun = false;

QString keyText(const DataSet &dataSet, const QString &field)
{
    return QString::number(dataSet.fieldByName(field)->asInteger());
}

} // namespace

Tdm::Tdm(StorageUi &ui, QObject *parent) : QObject(parent), m_ui(ui)
{
    dm = this;
    declareDataSets();
    // A third of a second: a change shows at the other desks well within a
    // second, and the look costs a few counters (or nothing but the server's
    // notices) each time.
    m_otherDesks.setInterval(333);
    connect(&m_otherDesks, &QTimer::timeout, this, &Tdm::followOtherDesks);
}

Tdm::~Tdm()
{
    if (dm == this)
        dm = nullptr;
}

QList<DataSource *> Tdm::dataSources()
{
    return {&dsFirms,        &dsItems,     &dsFolder,    &dsGrpFirm,   &dsGrpItem,
            &dsCrFirmFolder, &dsFirmFiles, &dsFSaler,    &dsFMaker,    &dsCrItemFolder,
            &dsItemFiles,    &dsListFirm,  &dsMainFirms, &dsMainItems, &dsListFolders,
            &dsGrpFrm,       &dsGrpItm};
}

void Tdm::declareDataSets()
{
    const QList<std::pair<DataSource *, DataSet *>> pairs = {
        {&dsFirms, &tblFirms},           {&dsItems, &tblItem},
        {&dsFolder, &tblFolder},         {&dsGrpFirm, &tblGrpFirm},
        {&dsGrpItem, &tblGrpItem},       {&dsCrFirmFolder, &tblCrFirmFolder},
        {&dsFirmFiles, &qFirmFiles},     {&dsFSaler, &qFSaler},
        {&dsFMaker, &qFMaker},           {&dsCrItemFolder, &tblCrItemFolder},
        {&dsItemFiles, &qItemFiles},     {&dsListFirm, &qListFirm},
        {&dsMainFirms, &qFirms},         {&dsMainItems, &qItems},
        {&dsListFolders, &qListFolders}, {&dsGrpFrm, &tblGrpFrm},
        {&dsGrpItm, &tblGrpItm}};
    const QStringList names = {
        "dsFirms",        "tblFirms",        "dsItems",     "tblItem",        "dsFolder",
        "tblFolder",      "dsGrpFirm",       "tblGrpFirm",  "dsGrpItem",      "tblGrpItem",
        "dsCrFirmFolder", "tblCrFirmFolder", "dsFirmFiles", "qFirmFiles",     "dsFSaler",
        "qFSaler",        "dsFMaker",        "qFMaker",     "dsCrItemFolder", "tblCrItemFolder",
        "dsItemFiles",    "qItemFiles",      "dsListFirm",  "qListFirm",      "dsMainFirms",
        "qFirms",         "dsMainItems",     "qItems",      "dsListFolders",  "qListFolders",
        "dsGrpFrm",       "tblGrpFrm",       "dsGrpItm",    "tblGrpItm"};
    for (int i = 0; i < pairs.size(); ++i) {
        pairs[i].first->setObjectName(names[2 * i]);
        pairs[i].second->setObjectName(names[2 * i + 1]);
        pairs[i].first->setDataSet(pairs[i].second);
    }
    TMPQuery.setObjectName(QStringLiteral("TMPQuery"));
    declareLists();
    declareFirmChain();
    declareItemChain();

    tblFolder.setTableName(QStringLiteral("FOLDERS.DB"));
    tblFolder.afterPost = [this](DataSet &d) { tblFolderAfterPost(d); };
    tblFolder.beforeDelete = [this](DataSet &d) { tblFolderBeforeDelete(d); };
    tblFolder.afterScroll = [this](DataSet &d) { tblFolderAfterScroll(d); };
    tblGrpFirm.setTableName(QStringLiteral("GRFIRMS.DB"));
    tblGrpItem.setTableName(QStringLiteral("GRITEMS.DB"));
    for (DataSet *groups :
         {static_cast<DataSet *>(&tblGrpFirm), static_cast<DataSet *>(&tblGrpItem)})
        groups->afterPost = [this](DataSet &d) { allTablesAfterPost(d); };
}

void Tdm::declareLists()
{
    // As the editors label their boxes.
    const QHash<QString, QString> labels = {{"Name", "Наименование"},
                                            {"Sinonyms", "Другие названия"},
                                            {"Description", "Описание"},
                                            {"Address", "Адрес"},
                                            {"Phones", "Телефон"},
                                            {"Email", "e-mail"},
                                            {"WWW", "WWW"},
                                            {"FileName", "Файл"},
                                            {"File", "Содержимое файла"},
                                            {"Type", "Тип"},
                                            {"FolderID", "Папка"},
                                            {"FirmID", "Фирма"},
                                            {"ItemID", "Элемент"}};
    for (DataSet *record : std::initializer_list<DataSet *>{
             &tblFirms, &tblItem, &tblFolder, &tblGrpFirm, &tblGrpItem, &tblGrpFrm, &tblGrpItm,
             &tblCrFirmFolder, &tblCrItemFolder, &qFirmFiles, &qItemFiles, &qFSaler, &qFMaker})
        record->setFieldLabels(labels);
    // The firm drop-downs of the maker and seller grids choose among every
    // firm: in the lists' order, so that a person can find one by its name.
    qListFirm.setSql(
        {QStringLiteral("Select FirmID,Name From Firms"), QStringLiteral("order by name")});
    qFirms.setSql({QStringLiteral("Select * From Firms"), QString(), QString(),
                   QStringLiteral("order by name")});
    const QList<std::pair<QString, int>> firmFields = {
        {"Name", 240},  {"Sinonyms", 240}, {"Description", 240}, {"Address", 200},
        {"Email", 100}, {"WWW", 60},       {"Phones", 60}};
    qFirms.addField(QStringLiteral("FirmID"), FieldKind::Integer);
    const QList<int> widths = {250, 250, 250, 200, 100, 0, 0};
    for (int i = 0; i < firmFields.size(); ++i)
        qFirms.addField(firmFields[i].first, FieldKind::String, firmFields[i].second)
            ->setDisplayWidth(widths[i]);
    qItems.setSql({QStringLiteral("Select * from Items"), QString(), QString(),
                   QStringLiteral("order by name")});
    qListFolders.setSql({QStringLiteral("Select * From Folders")});
}

void Tdm::declareMembershipFields(Table &table)
{
    table.setTableName(QStringLiteral("CRFOLDERS.DB"));
    table.addField(QStringLiteral("FolderID"), FieldKind::Integer);
    table.addField(QStringLiteral("FirmID"), FieldKind::Integer);
    table.addField(QStringLiteral("ItemID"), FieldKind::Integer)->setDefaultExpression("0");
    table.addLookupField(QStringLiteral("FolderName"), 50, QStringLiteral("FolderID"),
                         &qListFolders, QStringLiteral("FolderID"), QStringLiteral("Description"));
    table.beforePost = [](DataSet &d) { dropUnchosen(d, QStringLiteral("FolderID")); };
    table.afterPost = [this](DataSet &d) { allTablesAfterPost(d); };
}

void Tdm::declareFileFields(Query &files, int descriptionSize)
{
    files.setRequestLive(true);
    files.addField(QStringLiteral("FileID"), FieldKind::AutoInc)->setReadOnly(true);
    files.addField(QStringLiteral("FirmID"), FieldKind::Integer);
    files.addField(QStringLiteral("ItemID"), FieldKind::Integer);
    files.addField(QStringLiteral("Description"), FieldKind::String, descriptionSize)
        ->setDisplayWidth(60);
    files.addField(QStringLiteral("FileName"), FieldKind::String, 13);
    files.addField(QStringLiteral("File"), FieldKind::Binary);
    files.beforeInsert = [this](DataSet &d) { qFirmFilesBeforeInsert(d); };
    files.afterPost = [this](DataSet &d) {
        allTablesAfterPost(d);
        emit attachedFilePosted(d.fieldByName(QStringLiteral("FileID"))->asInteger());
    };
    files.afterDelete = [this](DataSet &) { emit attachedFilesDeleted(); };
}

void Tdm::declareRelationFields(Query &relation)
{
    relation.setRequestLive(true);
    relation.addField(QStringLiteral("FirmID"), FieldKind::Integer);
    relation.addField(QStringLiteral("ItemID"), FieldKind::Integer);
    relation.addField(QStringLiteral("Type"), FieldKind::String, 1);
    relation.addLookupField(QStringLiteral("FirmName"), 240, QStringLiteral("FirmID"), &qListFirm,
                            QStringLiteral("FirmID"), QStringLiteral("Name"));
    relation.afterPost = [this](DataSet &d) { allTablesAfterPost(d); };
    relation.setDataSource(&dsItems);
}

void Tdm::followByKey(Table &table, const QString &file, DataSource *master, const QString &key)
{
    table.setTableName(file);
    table.setIndexFieldNames(key);
    table.setMasterSource(master);
    table.setMasterFields(key);
}

void Tdm::declareFirmChain()
{
    followByKey(tblFirms, QStringLiteral("FIRMS.DB"), &dsMainFirms, QStringLiteral("FirmID"));
    tblFirms.beforeDelete = [this](DataSet &d) { tblFirmBeforeDelete(d); };
    // A post that waits for a later save can be lost in a crash: saved at once too.
    tblFirms.afterPost = [this](DataSet &d) { allTablesAfterPost(d); };

    declareMembershipFields(tblCrFirmFolder);
    tblCrFirmFolder.setIndexName(QStringLiteral("Firm"));
    tblCrFirmFolder.setMasterSource(&dsFirms);
    tblCrFirmFolder.setMasterFields(QStringLiteral("FirmID"));

    qFirmFiles.setSql(
        {QStringLiteral("Select F.* From Files F"), QStringLiteral("Where F.FirmID=:FirmID")});
    declareFileFields(qFirmFiles, 200);
    qFirmFiles.setDataSource(&dsFirms);

    followByKey(tblGrpFrm, QStringLiteral("GRPFRM.DB"), &dsFirms, QStringLiteral("FirmID"));
    tblGrpFrm.afterPost = [this](DataSet &d) { allTablesAfterPost(d); };
}

void Tdm::declareItemChain()
{
    followByKey(tblItem, QStringLiteral("ITEMS.DB"), &dsMainItems, QStringLiteral("ItemID"));
    tblItem.setFiltered(true);
    tblItem.afterPost = [this](DataSet &d) { allTablesAfterPost(d); };
    tblItem.beforeDelete = [this](DataSet &d) { tblItemBeforeDelete(d); };

    qFSaler.setSql({QStringLiteral("Select * From CrFirms"),
                    QStringLiteral("Where Type='s' and ItemID=:ItemID")});
    declareRelationFields(qFSaler);
    qFSaler.beforePost = [this](DataSet &d) { setRelationRow(d, QStringLiteral("s")); };
    qFMaker.setSql({QStringLiteral("Select * From CrFirms"),
                    QStringLiteral("Where Type='m' and ItemID=:ItemID")});
    declareRelationFields(qFMaker);
    qFMaker.beforePost = [this](DataSet &d) { setRelationRow(d, QStringLiteral("m")); };

    declareMembershipFields(tblCrItemFolder);
    tblCrItemFolder.setIndexName(QStringLiteral("Item"));
    tblCrItemFolder.setMasterSource(&dsItems);
    tblCrItemFolder.setMasterFields(QStringLiteral("ItemID"));

    qItemFiles.setSql(
        {QStringLiteral("Select F.* From Files F"), QStringLiteral("Where F.ItemID=:ItemID")});
    declareFileFields(qItemFiles, 100);
    qItemFiles.setDataSource(&dsItems);

    followByKey(tblGrpItm, QStringLiteral("GRPITM.DB"), &dsItems, QStringLiteral("ItemID"));
    tblGrpItm.afterPost = [this](DataSet &d) { allTablesAfterPost(d); };
}

QString Tdm::defaultDataDirectory()
{
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath("Data");
    const QFileInfo besideInfo(beside);
    const QFileInfo programDir(QCoreApplication::applicationDirPath());
    if (besideInfo.exists() ? besideInfo.isDir() && besideInfo.isWritable()
                            : programDir.isWritable())
        return beside;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Quillon/Data");
}

void Tdm::readSettings()
{
    QString problem;
    CheckOnLoad = readBoolSetting(QStringLiteral("CheckOnLoad"), true, &problem);
    PackOnCheck = readBoolSetting(QStringLiteral("PackOnCheck"), false);
    FolderFilter = readBoolSetting(QStringLiteral("FolderFilter"), false);
    if (!problem.isEmpty())
        m_ui.message(problem);
}

QString Tdm::ensureAlias(bool *created)
{
    Aliases aliases;
    if (!aliases.isAlias(aliasName))
        aliasMadeThisRun = true;
    if (created)
        *created = aliasMadeThisRun;
    if (!aliases.isAlias(aliasName)) {
        const QString directory = defaultDataDirectory();
        // The first catalogue is made here; a folder missing later is one
        // that has gone, not one to make anew. The folders above it may be
        // missing for the user's data folder.
        QDir().mkpath(directory);
        aliases.addStandardAlias(aliasName, directory, driverFor(directory));
        aliases.saveConfigFile();
    }
    return aliases.directory(aliasName);
}

void Tdm::chooseCatalogue(const QString &location, bool keep)
{
    Aliases::setRunAlias(aliasName, location, driverFor(location));
    if (!keep)
        return;
    Aliases aliases;
    const QString kept = CatalogueLocation::withoutPassword(location);
    aliases.addStandardAlias(aliasName, kept, driverFor(kept));
    aliases.saveConfigFile();
}

void Tdm::bindSession()
{
    for (DataSource *source : dataSources())
        source->dataSet()->setSession(m_session.get());
    TMPQuery.setSession(m_session.get());
}

QString Tdm::missingFolderText(const QString &directory)
{
    return QStringLiteral("Папка каталога не найдена:\n%1\n\nВозможно, диск не подключён или "
                          "папку перенесли.")
        .arg(QDir::toNativeSeparators(directory));
}

void Tdm::requireDataDirectory(const QString &directory, bool firstStart, StorageUi &ui)
{
    // A server's database is reached by connecting, not found on a disk.
    if (CatalogueLocation::isServer(directory))
        return;
    const QFileInfo info(directory);
    if (info.isDir())
        return;
    if (info.exists())
        throw EngineError(QDir::toNativeSeparators(directory) +
                          QStringLiteral(": это не папка, каталог открыть нельзя"));
    if (!firstStart && !ui.confirm(missingFolderText(directory) +
                                   QStringLiteral(" Создать на этом месте новый пустой каталог?")))
        Abort();
    if (!QDir().mkpath(directory))
        throw EngineError(QDir::toNativeSeparators(directory) +
                          QStringLiteral(": не удаётся создать папку каталога"));
}

QStringList Tdm::describedTables()
{
    QStringList names;
    try {
        const QString path = BaseMaker::findDescriptionFile(QStringLiteral("base.ini"));
        if (!path.isEmpty()) {
            for (const BaseMaker::TableSpec &table : BaseMaker::readDescription(path).tables)
                names << table.name;
        }
    } catch (const EngineError &) {
        // The structure check reads the description again and tells what is wrong.
    }
    return names;
}

void Tdm::guardAgainstForeignObjects()
{
    const QStringList tables = describedTables();
    const QString list = m_session->foreignObjects(tables);
    if (list.isEmpty())
        return;
    m_session->setReadOnly(
        QStringLiteral("Каталог открыт только для чтения: в его файлах есть то, чего программа не "
                       "создавала:\n%1\nЧтобы удалить это, откройте программу заново.")
            .arg(list));
    if (!m_ui.confirm(QStringLiteral("В файлах каталога есть то, чего программа не создавала "
                                     "(это могло прийти с папкой или копией с другой машины):\n\n"
                                     "%1\n\nУдалить это? Строки таблиц сохранятся. Если не "
                                     "удалять, каталог откроется только для чтения.")
                          .arg(list)))
        return;
    m_session->removeForeignObjects(tables);
    m_session->setReadOnly({});
}

void Tdm::DataModuleCreate()
{
    FolderFirmFilter.clear();
    FolderItemFilter.clear();
    GroupItemFilter.clear();
    GroupFirmFilter.clear();
    LastFileDir = QStringLiteral("..");
    readSettings();
    bool firstStart = false;
    const QString directory = ensureAlias(&firstStart);
    m_session = Session::open(directory);
    bindSession();
    emit catalogueOpened();
    requireDataDirectory(directory, firstStart, m_ui);
    // A failure here leaves the tables as they were; the lists still open on
    // them (read-only while foreign objects remain), so the user can work and
    // correct what blocked the change.
    std::exception_ptr failure;
    try {
        guardAgainstForeignObjects();
        if (CheckOnLoad && !m_session->isReadOnly())
            checkStructure();
    } catch (const EAbort &) {
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    openDataSets();
    if (failure)
        std::rethrow_exception(failure);
}

void Tdm::checkStructure()
{
    m_ui.setStatus(QStringLiteral("Проверка данных"));
    m_ui.startProgress(100);
    BaseMaker::VerifyBase(QStringLiteral("base.ini"), aliasName, false, false, m_ui);
}

void Tdm::openDataSets()
{
    for (DataSource *source : dataSources())
        source->dataSet()->open();
    m_otherDesks.start();
}

void Tdm::closeDataSets()
{
    m_otherDesks.stop();
    for (DataSource *source : dataSources())
        source->dataSet()->close();
    m_session->releaseTables();
}

namespace {

// "FIRMS.DB", "Firms" and "firms" name one table.
QString tableStem(const QString &name)
{
    return name.section('.', 0, 0).toUpper();
}

} // namespace

// What other desks changed reaches this one's lists, trees and editors: row
// by row where the notices name the rows, else each table as a whole.
// A failure (a server gone for a moment) is left to the next action of the
// user, which reports it; the next look tries again.
void Tdm::followOtherDesks()
{
    if (!m_session || m_session->inTransaction())
        return;
    try {
        QHash<QString, QList<qint64>> rows; // table stem -> rows named
        QSet<QString> whole;
        for (const Session::ChangeNotice &notice : m_session->changedElsewhere()) {
            const QString stem = tableStem(notice.table);
            if (notice.identity)
                rows[stem] << *notice.identity;
            else
                whole << stem;
        }
        QSet<QString> changed = whole;
        for (auto it = rows.cbegin(); it != rows.cend(); ++it)
            changed << it.key();
        if (changed.isEmpty())
            return;
        for (DataSource *source : dataSources()) {
            DataSet *data = source->dataSet();
            const QString stem = tableStem(data->tableFile());
            // A list whose condition reads another table (the firms of a
            // folder) gains and loses rows as that table changes.
            const bool wholeList =
                whole.contains(QStringLiteral("*")) || whole.contains(stem) ||
                std::any_of(changed.cbegin(), changed.cend(), [&](const QString &other) {
                    return other != stem && data->conditionReads(other);
                });
            if (wholeList)
                data->followChangesElsewhere();
            else if (rows.contains(stem))
                data->followRowsElsewhere(rows.value(stem));
        }
        emit changedElsewhere(changed.values());
    } catch (const EngineError &) {
    }
}

void Tdm::tblFolderAfterScroll(DataSet &dataSet)
{
    if (dataSet.recordCount() > 0 && FolderFilter) {
        // A folder being added has no key yet: the lists stay as they are
        // rather than run a condition with no number in it.
        if (!setFolderConditions(dataSet))
            return;
        RebuildFirmQuery();
        RebuildItemQuery();
    } else {
        // The last folder deleted with the filter on: no folder is left to
        // limit the lists to, and they show every record again.
        const bool folderGone = FolderFilter && !FolderFirmFilter.isEmpty();
        FolderFirmFilter.clear();
        FolderItemFilter.clear();
        if (folderGone) {
            RebuildFirmQuery();
            RebuildItemQuery();
        }
    }
}

bool Tdm::setFolderConditions(const DataSet &folders)
{
    const Field *key = folders.fieldByName(QStringLiteral("FolderID"));
    if (key->isNull())
        return false;
    const QString folder = QString::number(key->asInteger());
    FolderFirmFilter = QStringLiteral(" FirmID in (Select FirmID From CrFolders Where FolderID=") +
                       folder + QStringLiteral(") ");
    FolderItemFilter = QStringLiteral(" ItemID in (Select ItemID From CrFolders Where FolderID=") +
                       folder + QStringLiteral(") ");
    return true;
}

void Tdm::rebuildList(Query &list, const QString &folderCondition, const QString &groupCondition)
{
    QString condition;
    if (!folderCondition.isEmpty() && !groupCondition.isEmpty())
        condition = folderCondition + QStringLiteral(" and ") + groupCondition;
    else if (!folderCondition.isEmpty())
        condition = folderCondition;
    else
        condition = groupCondition;
    if (!condition.isEmpty())
        condition = QStringLiteral(" Where ") + condition;
    list.close();
    list.setSqlLine(1, condition);
    list.open();
}

void Tdm::RebuildFirmQuery()
{
    rebuildList(qFirms, FolderFirmFilter, GroupFirmFilter);
}

void Tdm::RebuildItemQuery()
{
    rebuildList(qItems, FolderItemFilter, GroupItemFilter);
}

void Tdm::allTablesAfterPost(DataSet &dataSet)
{
    dataSet.saveChanges();
}

void Tdm::tblFolderAfterPost(DataSet &dataSet)
{
    dataSet.saveChanges();
    qListFolders.close();
    qListFolders.open();
    followNewFolder(dataSet);
}

// A folder added with the folder filter on is current before it has a key,
// so its scroll left the lists on the previous folder; once posted it has
// one, and the lists move to its (empty) membership. A renamed folder keeps
// its condition and the lists are not read again.
void Tdm::followNewFolder(const DataSet &folders)
{
    const QString previous = FolderFirmFilter;
    if (!FolderFilter || !setFolderConditions(folders) || FolderFirmFilter == previous)
        return;
    RebuildFirmQuery();
    RebuildItemQuery();
}

void Tdm::confirmDeletion(const QString &name)
{
    if (!m_deletionAgreed &&
        !m_ui.confirm(QStringLiteral("Удалить '") + name + QStringLiteral("' ?")))
        Abort();
}

void Tdm::runCascade(const QStringList &statements)
{
    for (const QString &statement : statements) {
        TMPQuery.close();
        TMPQuery.clearSql();
        TMPQuery.addSqlLine(statement);
        TMPQuery.execSql();
    }
}

void Tdm::tblFirmBeforeDelete(DataSet &dataSet)
{
    confirmDeletion(dataSet.fieldByName(QStringLiteral("Name"))->asString());
    const QString key = keyText(dataSet, QStringLiteral("FirmID"));
    runCascade({QStringLiteral("Delete From Files Where FirmID=") + key,
                QStringLiteral("Delete From CrFolders Where FirmID=") + key,
                QStringLiteral("Delete From CrFirms Where FirmID=") + key});
    emit attachedFilesDeleted();
}

void Tdm::tblItemBeforeDelete(DataSet &dataSet)
{
    confirmDeletion(dataSet.fieldByName(QStringLiteral("Name"))->asString());
    const QString key = keyText(dataSet, QStringLiteral("ItemID"));
    runCascade({QStringLiteral("Delete From Files Where ItemID=") + key,
                QStringLiteral("Delete From CrFolders Where ItemID=") + key,
                QStringLiteral("Delete From CrFirms Where ItemID=") + key});
    emit attachedFilesDeleted();
}

void Tdm::removeUnfilled(Table &record)
{
    const bool firm = &record == &tblFirms;
    const QString key = keyText(record, firm ? QStringLiteral("FirmID") : QStringLiteral("ItemID"));
    runCascade({firm ? QStringLiteral("Delete From GrpFrm Where FirmID=") + key
                     : QStringLiteral("Delete From GrpItm Where ItemID=") + key});
    const QScopedValueRollback agreed(m_deletionAgreed, true);
    record.deleteRecord();
}

void Tdm::tblFolderBeforeDelete(DataSet &dataSet)
{
    confirmDeletion(dataSet.fieldByName(QStringLiteral("Description"))->asString());
    runCascade({QStringLiteral("Delete From CrFolders Where FolderID=") +
                keyText(dataSet, QStringLiteral("FolderID"))});
}

void Tdm::qFirmFilesBeforeInsert(DataSet &)
{
    if (!FileAppendAllowed)
        Abort();
}

void Tdm::dropUnchosen(DataSet &dataSet, const QString &chosenField)
{
    if (!dataSet.fieldByName(chosenField)->isNull())
        return;
    dataSet.cancel();
    Abort();
}

void Tdm::setRelationRow(DataSet &dataSet, const QString &type)
{
    dropUnchosen(dataSet, QStringLiteral("FirmID"));
    dataSet.fieldByName(QStringLiteral("Type"))->setAsString(type);
    dataSet.fieldByName(QStringLiteral("ItemID"))
        ->setValue(tblItem.fieldByName(QStringLiteral("ItemID"))->value());
}
