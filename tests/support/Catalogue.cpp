#include "Catalogue.h"

#include "Aliases.h"
#include "Query.h"
#include "SettingsStore.h"
#include "TableFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace TestCatalogue {

QString createStatement(const QString &fileName, const QList<std::pair<QString, QString>> &fields)
{
    QStringList lines{QStringLiteral("Create Table \"%1\" (").arg(fileName)};
    for (const auto &[name, type] : fields) {
        if (lines.size() > 1)
            lines << QStringLiteral(", ");
        lines << QStringLiteral("\"%1\".\"%2\" %3").arg(fileName, name, type);
    }
    lines << QStringLiteral(")");
    return lines.join('\n');
}

namespace {

void create(Session &session, const QString &file, const QList<std::pair<QString, QString>> &fields,
            const QStringList &key, const QList<std::pair<QString, QString>> &indexes = {})
{
    Query query;
    query.setSession(&session);
    query.setSql({createStatement(file, fields)});
    query.execSql();
    if (!key.isEmpty()) {
        IndexDef primary;
        primary.primary = primary.unique = true;
        primary.fields = key;
        TableFiles::addIndex(session, file, primary);
    }
    for (const auto &[name, fieldsText] : indexes) {
        IndexDef index;
        index.name = name;
        index.fields = fieldsText.split(';');
        index.caseInsensitive = true;
        TableFiles::addIndex(session, file, index);
    }
}

} // namespace

void createCatalogue(Session &session)
{
    const QString text = QStringLiteral("CHAR(%1)");
    create(session, "FIRMS.DB",
           {{"FirmID", "AutoInc"},
            {"Name", text.arg(240)},
            {"Sinonyms", text.arg(240)},
            {"Description", text.arg(240)},
            {"Address", text.arg(200)},
            {"Email", text.arg(100)},
            {"WWW", text.arg(60)},
            {"Phones", text.arg(60)},
            {"GroupID", "Integer"}},
           {"FirmID"}, {{"ByName", "Name"}});
    create(session, "ITEMS.DB",
           {{"ItemID", "AutoInc"},
            {"Name", text.arg(240)},
            {"Sinonyms", text.arg(240)},
            {"Description", text.arg(240)},
            {"GroupID", "Integer"}},
           {"ItemID"}, {{"ByName", "Name"}});
    create(session, "FOLDERS.DB", {{"FolderID", "AutoInc"}, {"Description", text.arg(50)}},
           {"FolderID"});
    for (const QString &file : {QStringLiteral("GRFIRMS.DB"), QStringLiteral("GRITEMS.DB")}) {
        create(session, file,
               {{"GroupID", "AutoInc"}, {"UpGroupID", "Integer"}, {"Description", text.arg(100)}},
               {"GroupID"}, {{"ByParent", "UpGroupID"}});
    }
    create(session, "GRPFRM.DB", {{"FirmID", "Integer"}, {"GroupID", "Integer"}},
           {"FirmID", "GroupID"}, {{"ByGroup", "GroupID"}});
    create(session, "GRPITM.DB", {{"ItemID", "Integer"}, {"GroupID", "Integer"}},
           {"ItemID", "GroupID"}, {{"ByGroup", "GroupID"}});
    create(session, "CRFOLDERS.DB",
           {{"FolderID", "Integer"}, {"FirmID", "Integer"}, {"ItemID", "Integer"}}, {},
           {{"Firm", "FirmID"}, {"Item", "ItemID"}, {"Folder", "FolderID"}});
    create(session, "CRFIRMS.DB",
           {{"FirmID", "Integer"}, {"ItemID", "Integer"}, {"Type", text.arg(1)}}, {},
           {{"Firm", "FirmID"}, {"Item", "ItemID"}});
    create(session, "FILES.DB",
           {{"FileID", "AutoInc"},
            {"FirmID", "Integer"},
            {"ItemID", "Integer"},
            {"Description", text.arg(200)},
            {"FileName", text.arg(13)},
            {"File", "Blob(0,2)"}},
           {"FileID"}, {{"Firm", "FirmID"}, {"Item", "ItemID"}});
}

std::unique_ptr<Table> openTable(Session &session, const QString &file)
{
    auto table = std::make_unique<Table>();
    table->setSession(&session);
    table->setTableName(file);
    return table;
}

std::unique_ptr<Query> openQuery(Session &session, const QStringList &sql, bool live)
{
    auto query = std::make_unique<Query>();
    query->setSession(&session);
    query->setSql(sql);
    query->setRequestLive(live);
    return query;
}

void pointAliasAt(const QString &dataDirectory)
{
    QFile::remove(RegistryKey::defaultFilePath());
    QDir().mkpath(dataDirectory);
    Aliases aliases;
    aliases.addStandardAlias("Quillon", dataDirectory, "Paradox");
    aliases.saveConfigFile();
}

QString shell(const QString &file, const QString &sql)
{
    QProcess process;
    process.start(QStringLiteral("sqlite3"), {QStringLiteral("-batch"), file, sql});
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError())
        .trimmed();
}

} // namespace TestCatalogue
