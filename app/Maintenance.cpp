#include "Maintenance.h"

#include "Backup.h"
#include "BaseMaker.h"
#include "CatalogueCopy.h"
#include "CatalogueLocation.h"
#include "CatalogueWindow.h"
#include "EngineError.h"
#include "Export.h"
#include "ExtractionProcess.h"
#include "FileError.h"
#include "FileSearchCommands.h"
#include "ForeignObjects.h"
#include "Import.h"
#include "Leftovers.h"
#include "Restore.h"
#include "Session.h"
#include "StorageUi.h"
#include "UData.h"
#include "Xls.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QTextStream>
#include <algorithm>
#include <functional>

namespace {

const QString descriptionName = QStringLiteral("base.ini");

// Prints what the splash window would show: each table's caption as it is
// reached, and every message.
class ConsoleUi : public StorageUi
{
public:
    int messages = 0;

    bool confirm(const QString &) override { return false; }
    void message(const QString &text) override
    {
        ++messages;
        QTextStream(stderr) << text << Qt::endl;
    }
    void setStatus(const QString &) override {}
    void startProgress(int) override {}
    void setTableCaption(const QString &caption) override
    {
        if (!caption.trimmed().isEmpty())
            QTextStream(stdout) << caption << Qt::endl;
    }
    void stepProgress() override {}
};

QString errorText(const std::exception &e)
{
    if (const auto *engine = dynamic_cast<const EngineError *>(&e))
        return engine->message();
    if (const auto *file = dynamic_cast<const FileError *>(&e))
        return file->message();
    return QString::fromLocal8Bit(e.what());
}

// Runs one command; a failure is printed with its cause and exits with 1.
int reportingFailure(const std::function<int()> &command)
{
    try {
        return command();
    } catch (const std::exception &e) {
        QTextStream(stderr) << errorText(e) << Qt::endl;
        return 1;
    }
}

// The data directory of a command that found it reachable.
QString openedDataDirectory()
{
    return Tdm::ensureAlias();
}

int verify(bool packOnly)
{
    ConsoleUi ui;
    return reportingFailure([&] {
        const QString directory = openedDataDirectory();
        const QList<ForeignObjects::Finding> findings =
            ForeignObjects::inCatalogue(directory, Tdm::describedTables());
        if (!findings.isEmpty())
            throw FileError(QStringLiteral("Каталог не изменён: в его файлах есть то, чего "
                                           "программа не создавала. Откройте его в программе, "
                                           "чтобы удалить это.\n") +
                            ForeignObjects::listed(findings));
        const bool found = BaseMaker::VerifyBase(QStringLiteral("base.ini"),
                                                 QStringLiteral("Quillon"), false, packOnly, ui);
        return found && ui.messages == 0 ? 0 : 1;
    });
}

int backup(const QString &archive)
{
    return reportingFailure([&] {
        const QString directory = openedDataDirectory();
        Backup::create(directory, Backup::catalogueTables(descriptionName), descriptionName,
                       archive);
        QTextStream(stdout) << QStringLiteral("Резервная копия записана: ") << archive << Qt::endl;
        return 0;
    });
}

int restore(const QString &archive)
{
    const int status = reportingFailure([&] {
        const QString directory = Tdm::ensureAlias();
        const Restore::Outcome outcome = Restore::fromArchive(directory, descriptionName, archive);
        QTextStream(stdout) << QStringLiteral("Копия: ") << archive << '\n'
                            << Restore::describe(outcome) << Qt::endl;
        return 0;
    });
    // The restored tables are brought into line with the description at once.
    return status != 0 ? status : verify(false);
}

int exportList(bool firms, const QString &file)
{
    return reportingFailure([&] {
        const std::unique_ptr<Session> opened = Session::open(openedDataDirectory());
        Session &session = *opened;
        const QString list = firms ? QStringLiteral("Select * From Firms order by name")
                                   : QStringLiteral("Select * from Items order by name");
        const int count =
            Export::rows(session, firms ? ListTarget::Firms : ListTarget::Items,
                         Export::selectFor({list}, true), file, Export::formatOf(file));
        QTextStream(stdout) << QStringLiteral("Выгружено записей: ") << count << Qt::endl;
        return 0;
    });
}

int importList(bool firms, const QString &file)
{
    return reportingFailure([&] {
        const std::unique_ptr<Session> opened = Session::open(openedDataDirectory());
        Session &session = *opened;
        const TextTable table = Import::readFile(file);
        Import::Options options;
        options.target = firms ? Import::Target::Firms : Import::Target::Items;
        options.mapping = Import::guessMapping(options.target, table.header,
                                               Import::textFields(session, options.target));
        if (!options.mapping.contains(QStringLiteral("Name"))) {
            QTextStream(stderr) << file
                                << QStringLiteral(": в первой строке нет столбца «Наименование»")
                                << Qt::endl;
            return 1;
        }
        Import::Plan plan = Import::plan(session, table, options);
        Import::run(session, table, options, plan);
        QTextStream out(stdout);
        out << QStringLiteral("Добавлено: %1; уже были в каталоге (пропущены): %2; обрезано "
                              "длинных значений: %3; отклонено строк: %4")
                   .arg(plan.added)
                   .arg(plan.existing)
                   .arg(plan.cutValues)
                   .arg(plan.refused.size())
            << Qt::endl;
        for (const auto &[line, reason] : plan.refused)
            QTextStream(stderr) << QStringLiteral("Строка %1: %2").arg(line).arg(reason)
                                << Qt::endl;
        if (!plan.unknownNames.isEmpty())
            QTextStream(stderr) << QStringLiteral("Нет в каталоге (не назначены): ")
                                << plan.unknownNames.join(QStringLiteral("; ")) << Qt::endl;
        return 0;
    });
}

int copyCatalogue(const QString &from, const QString &to)
{
    ConsoleUi ui;
    return reportingFailure([&] {
        const QString source = CatalogueLocation::fromUserText(from);
        const QString target = CatalogueLocation::fromUserText(to);
        QTextStream out(stdout);
        CatalogueCopy::copy(
            source, target, descriptionName, Backup::catalogueTables(descriptionName), ui,
            [&out](const QString &table, qint64 rows) {
                out << QStringLiteral("%1: скопировано записей: %2").arg(table).arg(rows)
                    << Qt::endl;
            });
        out << QStringLiteral("Каталог скопирован и проверен (число записей и контрольная сумма "
                              "каждой таблицы совпадают): %1 → %2")
                   .arg(CatalogueLocation::described(source), CatalogueLocation::described(target))
            << Qt::endl;
        return ui.messages == 0 ? 0 : 1;
    });
}

QCommandLineOption catalogueOption()
{
    return QCommandLineOption(
        QStringLiteral("catalogue"),
        QStringLiteral("Работать с каталогом ГДЕ: папкой или сервером "
                       "(postgresql://сервер/база?sslmode=verify-full); только в этот раз."),
        QStringLiteral("ГДЕ"));
}

// The catalogue of this run, before a command opens it: one that cannot be
// reached stops the command with where and why, and nothing is made in its place.
void requireReachable()
{
    const QString location = Tdm::ensureAlias();
    // Between the two renames of a restore cut short the folder is not
    // there: the swap is completed first.
    Restore::finishInterrupted(location);
    const QString cause = CatalogueLocation::unreachableCause(location);
    if (!cause.isEmpty())
        throw EngineError(CatalogueLocation::unreachableMessage(location, cause));
}

} // namespace

void applyCatalogueOption(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption catalogue = catalogueOption();
    parser.addOption(catalogue);
    // Only the catalogue is read here: the other options are the commands'.
    parser.parse(arguments);
    if (parser.isSet(catalogue))
        Tdm::chooseCatalogue(CatalogueLocation::fromUserText(parser.value(catalogue)), false);
}

int runMaintenance(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Квиллон — каталог фирм и элементов.\nБез ключей открывает окно программы."));
    const QCommandLineOption check(QStringLiteral("check"),
                                   QStringLiteral("Проверить структуру таблиц и выйти."));
    const QCommandLineOption pack(QStringLiteral("pack"),
                                  QStringLiteral("Сжать все таблицы и выйти."));
    const QCommandLineOption backupTo(
        QStringLiteral("backup"),
        QStringLiteral("Сделать резервную копию каталога в ФАЙЛ и выйти."), QStringLiteral("ФАЙЛ"));
    const QCommandLineOption restoreFrom(
        QStringLiteral("restore"),
        QStringLiteral(
            "Проверить копию ФАЙЛ и восстановить из неё каталог, прежний сохранив рядом."),
        QStringLiteral("ФАЙЛ"));
    const QCommandLineOption exportTo(
        QStringLiteral("export"),
        QStringLiteral("Выгрузить все фирмы (firms) или элементы (items) в ФАЙЛ .csv или .xlsx "
                       "и выйти."),
        QStringLiteral("firms|items"));
    const QCommandLineOption importFrom(
        QStringLiteral("import"),
        QStringLiteral("Загрузить фирмы (firms) или элементы (items) из ФАЙЛ .csv, .xlsx, .xls "
                       "или .ods; записи с уже известными названиями пропускаются."),
        QStringLiteral("firms|items"));
    const QCommandLineOption copyCatalogueFrom(
        QStringLiteral("copy-catalogue"),
        QStringLiteral("Скопировать весь каталог ИЗ (папку или сервер) в пустое место В (папку "
                       "или сервер) и сверить копию с исходным."),
        QStringLiteral("ИЗ"));
    const QCommandLineOption rebuildIndex(
        QStringLiteral("rebuild-index"),
        QStringLiteral("Построить заново указатель текста прикреплённых файлов и выйти."));
    const QCommandLineOption findInFilesOption(
        QStringLiteral("find-in-files"),
        QStringLiteral("Найти слова в прикреплённых файлах: владелец, файл, отрывок."),
        QStringLiteral("текст"));
    // The extraction process that the indexer keeps running beside it.
    QCommandLineOption extractServer(QStringLiteral("extract-server"),
                                     QStringLiteral("Читать текст файлов, переданных на вход."));
    const ExtractionLimits defaults;
    QCommandLineOption maxText(QStringLiteral("max-text"),
                               QStringLiteral("Наибольшая длина текста в символах."),
                               QStringLiteral("число"), QString::number(defaults.maxText));
    QCommandLineOption maxFile(QStringLiteral("max-file"),
                               QStringLiteral("Наибольший размер файла в байтах."),
                               QStringLiteral("число"), QString::number(defaults.maxFileSize));
    QCommandLineOption seconds(QStringLiteral("seconds"),
                               QStringLiteral("Наибольшее время чтения одного файла."),
                               QStringLiteral("число"), QString::number(defaults.seconds));
    // The process that reads an XLS workbook for an import.
    QCommandLineOption readXls(QStringLiteral("read-xls"), QStringLiteral("Прочитать книгу XLS."),
                               QStringLiteral("файл"));
    QCommandLineOption readLimits(QStringLiteral("read-limits"),
                                  QStringLiteral("Пределы чтения книги."),
                                  QStringLiteral("пределы"), Xls::limitsArgument({}));
    for (QCommandLineOption *hidden :
         {&extractServer, &maxText, &maxFile, &seconds, &readXls, &readLimits})
        hidden->setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption catalogue = catalogueOption();
    parser.addOptions({catalogue, check, pack, backupTo, restoreFrom, exportTo, importFrom,
                       copyCatalogueFrom, rebuildIndex, findInFilesOption, extractServer, maxText,
                       maxFile, seconds, readXls, readLimits});
    parser.addPositionalArgument(
        QStringLiteral("ФАЙЛ|В"),
        QStringLiteral("файл для --export и --import; место копии для --copy-catalogue"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(arguments);
    if (parser.isSet(extractServer)) {
        ExtractionLimits limits;
        limits.maxText = parser.value(maxText).toLongLong();
        limits.maxFileSize = parser.value(maxFile).toLongLong();
        limits.seconds = parser.value(seconds).toInt();
        return runExtractionServer(limits);
    }
    if (parser.isSet(readXls))
        return Xls::runReadCommand(parser.value(readXls), parser.value(readLimits));
    Leftovers::clearOfEndedRuns();
    if (parser.isSet(catalogue)) {
        if (parser.value(catalogue).trimmed().isEmpty()) {
            QTextStream(stderr) << QStringLiteral(
                                       "Укажите папку или адрес сервера после --catalogue.")
                                << Qt::endl;
            return 2;
        }
        applyCatalogueOption(arguments);
    }
    const QList<const QCommandLineOption *> writingCommands = {&check, &pack, &restoreFrom,
                                                               &importFrom, &copyCatalogueFrom};
    // A restore may bring a catalogue to a folder that is gone; every other
    // command works on one that is there.
    const QList<const QCommandLineOption *> catalogueCommands = {
        &check, &pack, &backupTo, &exportTo, &importFrom, &rebuildIndex, &findInFilesOption};
    const bool opensCatalogue = std::any_of(
        catalogueCommands.begin(), catalogueCommands.end(),
        [&parser](const QCommandLineOption *command) { return parser.isSet(*command); });
    if (opensCatalogue) {
        if (const int status = reportingFailure([] {
                requireReachable();
                return 0;
            }))
            return status;
    }
    // A window on the folder catalogue keeps its lists and its records being
    // edited in memory: a command that changed the tables under it would
    // leave it showing what is no longer there.
    const bool writes = std::any_of(
        writingCommands.begin(), writingCommands.end(),
        [&parser](const QCommandLineOption *command) { return parser.isSet(*command); });
    if (writes) {
        const QString written = parser.isSet(copyCatalogueFrom)
                                    ? parser.positionalArguments().value(0)
                                    : Tdm::ensureAlias();
        if (CatalogueWindow::isOpen(CatalogueLocation::fromUserText(written))) {
            QTextStream(stderr) << QStringLiteral("Каталог (%1) открыт в окне программы. Закройте "
                                                  "окно и повторите: иначе окно показывало бы "
                                                  "то, чего в каталоге уже нет.")
                                       .arg(CatalogueLocation::described(written))
                                << Qt::endl;
            return 1;
        }
    }
    if (parser.isSet(rebuildIndex))
        return reportingFailure(rebuildFileIndex);
    if (parser.isSet(findInFilesOption))
        return reportingFailure([&] { return findInFiles(parser.value(findInFilesOption)); });
    if (parser.isSet(copyCatalogueFrom)) {
        if (parser.positionalArguments().size() != 1) {
            QTextStream(stderr) << QStringLiteral("Укажите, куда копировать: --copy-catalogue ИЗ В")
                                << Qt::endl;
            return 2;
        }
        return copyCatalogue(parser.value(copyCatalogueFrom),
                             parser.positionalArguments().constFirst());
    }
    if (parser.isSet(check))
        return verify(false);
    if (parser.isSet(pack))
        return verify(true);
    if (parser.isSet(backupTo))
        return backup(parser.value(backupTo));
    if (parser.isSet(restoreFrom))
        return restore(parser.value(restoreFrom));
    for (const QCommandLineOption *exchange : {&exportTo, &importFrom}) {
        if (!parser.isSet(*exchange))
            continue;
        const QString what = parser.value(*exchange);
        if ((what != QStringLiteral("firms") && what != QStringLiteral("items")) ||
            parser.positionalArguments().size() != 1) {
            QTextStream(stderr) << QStringLiteral("Укажите firms или items и один файл.")
                                << Qt::endl;
            return 2;
        }
        const bool firms = what == QStringLiteral("firms");
        const QString file = parser.positionalArguments().constFirst();
        return exchange == &exportTo ? exportList(firms, file) : importList(firms, file);
    }
    return -1;
}
