#include "Maintenance.h"

#include "Backup.h"
#include "BaseMaker.h"
#include "EngineError.h"
#include "FileError.h"
#include "Restore.h"
#include "StorageUi.h"
#include "UData.h"

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

int backup(const QString &archive)
{
    return reportingFailure([&] {
        const QString directory = Tdm::ensureAlias();
        Restore::finishInterrupted(directory);
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
    parser.addOptions({check, pack, backupTo, restoreFrom});
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(arguments);
    if (parser.isSet(check))
        return verify(false);
    if (parser.isSet(pack))
        return verify(true);
    if (parser.isSet(backupTo))
        return backup(parser.value(backupTo));
    if (parser.isSet(restoreFrom))
        return restore(parser.value(restoreFrom));
    return -1;
}
