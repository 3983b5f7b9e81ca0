#include "Maintenance.h"

#include "Backup.h"
#include "BaseMaker.h"
#include "EngineError.h"
#include "Export.h"
#include "ExtractionProcess.h"
#include "FileError.h"
#include "FileSearchCommands.h"
#include "Import.h"
#include "Restore.h"
#include "Session.h"
#include "StorageUi.h"
#include "UData.h"
#include "Xls.h"

#include <QCommandLineParser>
#include <QTextStream>
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

int verify(bool packOnly)
{
    ConsoleUi ui;
    return reportingFailure([&] {
        // The verifier creates the data directory when it is missing.
        Restore::finishInterrupted(Tdm::ensureAlias());
        const bool found = BaseMaker::VerifyBase(QStringLiteral("base.ini"),
                                                 QStringLiteral("Quillon"), false, packOnly, ui);
        return found && ui.messages == 0 ? 0 : 1;
    });
}

// The data directory, with any restore that was cut short completed.
QString openedDataDirectory()
{
    const QString directory = Tdm::ensureAlias();
    Restore::finishInterrupted(directory);
    return directory;
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
        const QString aside =
            Restore::fromArchive(directory, Backup::catalogueTables(descriptionName), archive);
        QTextStream(stdout) << QStringLiteral("Каталог восстановлен из копии ") << archive
                            << Qt::endl;
        if (!aside.isEmpty())
            QTextStream(stdout) << QStringLiteral("Прежний каталог сохранён в ") << aside
                                << Qt::endl;
        return 0;
    });
    // The restored tables are brought into line with the description at once.
    return status != 0 ? status : verify(false);
}

int exportList(bool firms, const QString &file)
{
    return reportingFailure([&] {
        Session session(openedDataDirectory());
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
        Session session(openedDataDirectory());
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
        const Import::Plan plan = Import::plan(session, table, options);
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

} // namespace

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
    const QCommandLineOption rebuildIndex(
        QStringLiteral("rebuild-index"),
        QStringLiteral("Построить заново указатель текста прикреплённых файлов и выйти."));
    const QCommandLineOption findInFilesOption(
        QStringLiteral("find-in-files"),
        QStringLiteral("Найти слова в прикреплённых файлах: владелец, файл, отрывок."),
        QStringLiteral("текст"));
    // The extraction process that the indexer starts for each file.
    QCommandLineOption extractText(QStringLiteral("extract-text"),
                                   QStringLiteral("Вывести текст файла."), QStringLiteral("файл"));
    QCommandLineOption maxText(
        QStringLiteral("max-text"), QStringLiteral("Наибольшая длина текста в символах."),
        QStringLiteral("число"), QString::number(ExtractionLimits{}.maxText));
    extractText.setFlags(QCommandLineOption::HiddenFromHelp);
    maxText.setFlags(QCommandLineOption::HiddenFromHelp);
    // The process that reads an XLS workbook for an import.
    QCommandLineOption readXls(QStringLiteral("read-xls"), QStringLiteral("Прочитать книгу XLS."),
                               QStringLiteral("файл"));
    QCommandLineOption readLimits(QStringLiteral("read-limits"),
                                  QStringLiteral("Пределы чтения книги."),
                                  QStringLiteral("пределы"), Xls::limitsArgument({}));
    readXls.setFlags(QCommandLineOption::HiddenFromHelp);
    readLimits.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({check, pack, backupTo, restoreFrom, exportTo, importFrom, rebuildIndex,
                       findInFilesOption, extractText, maxText, readXls, readLimits});
    parser.addPositionalArgument(QStringLiteral("ФАЙЛ"),
                                 QStringLiteral("файл для --export и --import"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(arguments);
    if (parser.isSet(extractText))
        return runExtractTextCommand(parser.value(extractText), parser.value(maxText).toLongLong());
    if (parser.isSet(readXls))
        return Xls::runReadCommand(parser.value(readXls), parser.value(readLimits));
    if (parser.isSet(rebuildIndex))
        return reportingFailure(rebuildFileIndex);
    if (parser.isSet(findInFilesOption))
        return reportingFailure([&] { return findInFiles(parser.value(findInFilesOption)); });
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
