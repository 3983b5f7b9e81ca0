#include "Aliases.h"

#include "EngineError.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

namespace {
const QString pathKey = QStringLiteral("PATH");
}

QString Aliases::configFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quillon/aliases.cfg");
}

Aliases::Aliases()
{
    QFile file(configFile());
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        throw EngineError(configFile() + QStringLiteral(": не удаётся прочитать файл"));
    QTextStream in(&file);
    int lineNumber = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        ++lineNumber;
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            m_aliases.append({line.mid(1, line.size() - 2).trimmed(), {}});
        } else if (line.contains('=') && !m_aliases.isEmpty()) {
            // "PATH = /x/Data" means the folder /x/Data: blanks around "=" are
            // the writer's layout, not part of the name or the value.
            m_aliases.last().params
                << line.section('=', 0, 0).trimmed() + '=' + line.section('=', 1).trimmed();
        } else {
            throw EngineError(configFile() + QStringLiteral(": непонятная строка ") +
                              QString::number(lineNumber));
        }
    }
}

QList<Aliases::Alias> &Aliases::runAliases()
{
    static QList<Alias> aliases;
    return aliases;
}

QStringList Aliases::standardParams(const QString &path, const QString &driver)
{
    return {QStringLiteral("%1=%2").arg(pathKey, path),
            QStringLiteral("DEFAULT DRIVER=%1").arg(driver)};
}

void Aliases::setRunAlias(const QString &name, const QString &path, const QString &driver)
{
    QList<Alias> &aliases = runAliases();
    aliases.removeIf(
        [&name](const Alias &alias) { return alias.name.compare(name, Qt::CaseInsensitive) == 0; });
    if (!path.isEmpty())
        aliases.append({name, standardParams(path, driver)});
}

const Aliases::Alias *Aliases::find(const QString &name) const
{
    const QList<const QList<Alias> *> lists = {&runAliases(), &m_aliases};
    for (const QList<Alias> *list : lists) {
        for (const Alias &alias : *list) {
            if (alias.name.compare(name, Qt::CaseInsensitive) == 0)
                return &alias;
        }
    }
    return nullptr;
}

bool Aliases::isAlias(const QString &name) const
{
    return find(name) != nullptr;
}

void Aliases::addStandardAlias(const QString &name, const QString &path, const QString &driver)
{
    const QStringList params = standardParams(path, driver);
    for (Alias &alias : m_aliases) {
        if (alias.name.compare(name, Qt::CaseInsensitive) == 0) {
            alias.params = params;
            return;
        }
    }
    m_aliases.append({name, params});
}

void Aliases::saveConfigFile() const
{
    QDir().mkpath(QFileInfo(configFile()).absolutePath());
    QSaveFile file(configFile());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        throw EngineError(configFile() + QStringLiteral(": не удаётся записать файл"));
    QTextStream out(&file);
    for (const Alias &alias : m_aliases) {
        out << '[' << alias.name << "]\n";
        for (const QString &param : alias.params)
            out << param << '\n';
    }
    out.flush();
    if (!file.commit())
        throw EngineError(configFile() + QStringLiteral(": не удаётся записать файл"));
}

QStringList Aliases::aliasParams(const QString &name) const
{
    const Alias *alias = find(name);
    if (!alias)
        throw EngineError(QStringLiteral("Нет псевдонима ") + name);
    QStringList params;
    for (const QString &param : alias->params) {
        if (param.section('=', 0, 0).trimmed().compare(pathKey, Qt::CaseInsensitive) == 0)
            params.prepend(param);
        else
            params.append(param);
    }
    return params;
}

QString Aliases::directory(const QString &name) const
{
    const QStringList params = aliasParams(name);
    // Callers read the PATH line from its sixth character on.
    return params.isEmpty() ? QString() : params.first().mid(5);
}
