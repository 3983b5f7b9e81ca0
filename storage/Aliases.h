#pragma once

#include <QString>
#include <QStringList>

// The engine's aliases: a name for a data directory and its driver, kept in a
// small text file in the user's configuration directory
// ($XDG_CONFIG_HOME/Quillon/aliases.cfg).
class Aliases
{
public:
    // Reads the configuration file; a missing file is an empty configuration,
    // a damaged one raises an engine error naming it.
    Aliases();

    static QString configFile();

    // An alias for this run only (the `--catalogue` of the command line, a
    // password typed for a server): it stands in for the configured alias of
    // that name in every Aliases object of the process and is never written
    // to the configuration file. An empty path removes it.
    static void setRunAlias(const QString &name, const QString &path, const QString &driver);

    bool isAlias(const QString &name) const;
    // Adds (or replaces) an alias in memory: "PATH=dir" and "DEFAULT DRIVER=drv".
    void addStandardAlias(const QString &name, const QString &path, const QString &driver);
    // Writes every alias to the configuration file, all or nothing.
    void saveConfigFile() const;
    // The "NAME=value" lines of an alias, the PATH line first.
    QStringList aliasParams(const QString &name) const;
    // The data directory of an alias: the value of its PATH line.
    QString directory(const QString &name) const;

private:
    struct Alias
    {
        QString name;
        QStringList params;
    };
    static QStringList standardParams(const QString &path, const QString &driver);
    static QList<Alias> &runAliases();
    const Alias *find(const QString &name) const;
    QList<Alias> m_aliases;
};
