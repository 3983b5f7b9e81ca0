#include "Maintenance.h"

#include "BaseMaker.h"
#include "EngineError.h"
#include "StorageUi.h"
#include "UData.h"

#include <QCommandLineParser>
#include <QTextStream>

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

int verify(bool packOnly)
{
    ConsoleUi ui;
    try {
        // The verifier creates the data directory when it is missing.
        Tdm::ensureAlias();
        const bool found = BaseMaker::VerifyBase(QStringLiteral("base.ini"),
                                                 QStringLiteral("Quillon"), false, packOnly, ui);
        return found && ui.messages == 0 ? 0 : 1;
    } catch (const std::exception &e) {
        const auto *engine = dynamic_cast<const EngineError *>(&e);
        QTextStream(stderr) << (engine ? engine->message() : QString::fromLocal8Bit(e.what()))
                            << Qt::endl;
        return 1;
    }
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
    parser.addOption(check);
    parser.addOption(pack);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(arguments);
    if (parser.isSet(check))
        return verify(false);
    if (parser.isSet(pack))
        return verify(true);
    return -1;
}
