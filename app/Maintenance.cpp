#include "Maintenance.h"

#include "BaseMaker.h"
#include "EngineError.h"
#include "ExtractionProcess.h"
#include "FileSearchCommands.h"
#include "StorageUi.h"
#include "UData.h"

#include <QCommandLineParser>
#include <QTextStream>
#include <functional>

namespace {

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

// Runs a command, printing the message of a failure.
int reporting(const std::function<int()> &command)
{
    try {
        return command();
    } catch (const std::exception &e) {
        const auto *engine = dynamic_cast<const EngineError *>(&e);
        QTextStream(stderr) << (engine ? engine->message() : QString::fromLocal8Bit(e.what()))
                            << Qt::endl;
        return 1;
    }
}

int verify(bool packOnly)
{
    return reporting([packOnly] {
        ConsoleUi ui;
        // The verifier creates the data directory when it is missing.
        Tdm::ensureAlias();
        const bool found = BaseMaker::VerifyBase(QStringLiteral("base.ini"),
                                                 QStringLiteral("Quillon"), false, packOnly, ui);
        return found && ui.messages == 0 ? 0 : 1;
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
    parser.addOptions({check, pack, rebuildIndex, findInFilesOption, extractText, maxText});
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(arguments);
    if (parser.isSet(extractText))
        return runExtractTextCommand(parser.value(extractText), parser.value(maxText).toLongLong());
    if (parser.isSet(check))
        return verify(false);
    if (parser.isSet(pack))
        return verify(true);
    if (parser.isSet(rebuildIndex))
        return reporting(rebuildFileIndex);
    if (parser.isSet(findInFilesOption))
        return reporting([&] { return findInFiles(parser.value(findInFilesOption)); });
    return -1;
}
