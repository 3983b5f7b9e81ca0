#include "CatalogueLocation.h"

#include "EngineError.h"
#include "FileError.h"
#include "Session.h"
#include "SettingsStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>
#include <algorithm>

namespace {

const QStringList serverPrefixes = {QStringLiteral("postgresql://"), QStringLiteral("postgres://")};
const QString recentSection = QStringLiteral("Quillon\\RecentCatalogues");
// As many as a menu shows without scrolling and a person still reads.
constexpr int recentKept = 8;

// A libpq URI cut into its parts: prefix, user part (before '@'), hosts,
// the database path and the parameters after '?', each still percent-encoded.
struct ServerAddress
{
    QString prefix;
    QString user;
    bool hasUser = false;
    QString hosts;
    bool hasPath = false;
    QString database;
    QStringList parameters;

    static ServerAddress parse(const QString &uri)
    {
        ServerAddress address;
        for (const QString &prefix : serverPrefixes) {
            if (uri.startsWith(prefix))
                address.prefix = prefix;
        }
        QString rest = uri.mid(address.prefix.size());
        const qsizetype query = rest.indexOf('?');
        if (query >= 0) {
            address.parameters = rest.mid(query + 1).split('&', Qt::SkipEmptyParts);
            rest.truncate(query);
        }
        const qsizetype slash = rest.indexOf('/');
        if (slash >= 0) {
            address.hasPath = true;
            address.database = rest.mid(slash + 1);
            rest.truncate(slash);
        }
        // libpq takes the user part up to the first '@' of the authority.
        const qsizetype at = rest.indexOf('@');
        if (at >= 0) {
            address.hasUser = true;
            address.user = rest.left(at);
            rest.remove(0, at + 1);
        }
        address.hosts = rest;
        return address;
    }

    QString parameter(const QString &name) const
    {
        for (const QString &parameter : parameters) {
            if (decoded(parameter.section('=', 0, 0)) == name)
                return decoded(parameter.section('=', 1));
        }
        return {};
    }

    void removeParameter(const QString &name)
    {
        parameters.removeIf([&name](const QString &parameter) {
            return decoded(parameter.section('=', 0, 0)) == name;
        });
    }

    QString text() const
    {
        QString uri = prefix;
        if (hasUser)
            uri += user + '@';
        uri += hosts;
        if (hasPath || !database.isEmpty())
            uri += '/' + database;
        if (!parameters.isEmpty())
            uri += '?' + parameters.join('&');
        return uri;
    }

    static QString decoded(const QString &text) { return QUrl::fromPercentEncoding(text.toUtf8()); }
};

} // namespace

namespace CatalogueLocation {

bool isServer(const QString &location)
{
    return std::any_of(serverPrefixes.begin(), serverPrefixes.end(),
                       [&location](const QString &prefix) { return location.startsWith(prefix); });
}

QString fromUserText(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || isServer(trimmed))
        return trimmed;
    QString path = trimmed;
    if (path == QStringLiteral("~") || path.startsWith(QStringLiteral("~/")))
        path = QDir::homePath() + path.mid(1);
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

QString withoutPassword(const QString &location)
{
    if (!isServer(location))
        return location;
    ServerAddress address = ServerAddress::parse(location);
    const qsizetype parameters = address.parameters.size();
    address.removeParameter(QStringLiteral("password"));
    if (!address.user.contains(':') && address.parameters.size() == parameters)
        return location; // as the user wrote it
    address.user = address.user.section(':', 0, 0);
    address.hasUser = !address.user.isEmpty();
    return address.text();
}

QString withPassword(const QString &location, const QString &password)
{
    if (!isServer(location))
        return location;
    ServerAddress address = ServerAddress::parse(withoutPassword(location));
    address.parameters.append(QStringLiteral("password=") +
                              QString::fromLatin1(QUrl::toPercentEncoding(password)));
    return address.text();
}

QString described(const QString &location)
{
    if (!isServer(location))
        return QStringLiteral("папка «%1»").arg(QDir::toNativeSeparators(location));
    const ServerAddress address = ServerAddress::parse(location);
    QString hosts = ServerAddress::decoded(address.hosts);
    if (hosts.isEmpty())
        hosts = address.parameter(QStringLiteral("host"));
    if (hosts.isEmpty())
        hosts = QStringLiteral("на этом компьютере");
    const QString port = address.parameter(QStringLiteral("port"));
    if (!port.isEmpty() && !hosts.contains(':'))
        hosts += ':' + port;
    QString database = ServerAddress::decoded(address.database);
    if (database.isEmpty())
        database = address.parameter(QStringLiteral("dbname"));
    if (database.isEmpty())
        return QStringLiteral("сервер %1").arg(hosts);
    return QStringLiteral("сервер %1, база %2").arg(hosts, database);
}

QString unreachableCause(const QString &location)
{
    if (isServer(location)) {
        // Connecting is the only test of a server; the session says why it failed.
        try {
            Session::open(location);
            return {};
        } catch (const PasswordNeeded &) {
            throw;
        } catch (const EngineError &e) {
            return e.message();
        }
    }
    const QFileInfo folder(location);
    if (!folder.exists())
        return QStringLiteral("папка не найдена");
    if (!folder.isDir())
        return QStringLiteral("это не папка, а файл");
    if (!folder.isReadable() || !folder.isExecutable())
        return QStringLiteral("нет доступа к папке");
    return {};
}

QString unreachableMessage(const QString &location, const QString &cause)
{
    return QStringLiteral("Каталог недоступен: %1.\nПричина: %2.").arg(described(location), cause);
}

bool holdsCatalogue(const QString &location)
{
    if (isServer(location))
        return Session::open(location)->holdsTables();
    // Name filters ignore letter case: "FIRMS.DB" and "Firms.db" both count.
    return !QDir(location).entryList({QStringLiteral("*.DB")}, QDir::Files).isEmpty();
}

QString identity(const QString &location)
{
    if (isServer(location))
        return withoutPassword(location);
    return QDir::cleanPath(QDir(location).absolutePath());
}

QString shortLabel(const QString &location)
{
    if (isServer(location)) {
        const ServerAddress address = ServerAddress::parse(location);
        QString host = ServerAddress::decoded(address.hosts).section(',', 0, 0);
        if (host.isEmpty())
            host = address.parameter(QStringLiteral("host"));
        if (host.isEmpty())
            host = QStringLiteral("localhost");
        QString database = ServerAddress::decoded(address.database);
        if (database.isEmpty())
            database = address.parameter(QStringLiteral("dbname"));
        return database.isEmpty() ? host : host + '-' + database;
    }
    const QFileInfo info(identity(location));
    const QString parent = QFileInfo(info.absolutePath()).fileName();
    return (parent.isEmpty() ? QString() : parent + '-') + info.fileName();
}

bool makePlaceFor(const QString &location)
{
    if (isServer(location) || QFileInfo::exists(location))
        return false;
    return QDir().mkpath(location);
}

QString indexFolder(const QString &location)
{
    if (!isServer(location))
        return location;
    const QString mark = QString::fromLatin1(
        QCryptographicHash::hash(identity(location).toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .left(16));
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                           QStringLiteral("/Quillon/index/") + mark;
    if (!QDir().mkpath(folder))
        throw FileError(folder + QStringLiteral(": не удаётся создать папку"));
    return folder;
}

QStringList recent()
{
    QStringList locations;
    for (const auto &value : RegistryKey().readStrings(recentSection)) {
        if (!value.second.isEmpty() && !locations.contains(value.second))
            locations.append(value.second);
    }
    return locations.mid(0, recentKept);
}

void remember(const QString &location)
{
    QStringList locations = recent();
    const QString kept = withoutPassword(location);
    locations.removeAll(kept);
    locations.prepend(kept);
    QList<std::pair<QString, QString>> values;
    for (int i = 0; i < std::min<int>(locations.size(), recentKept); ++i)
        values.append({QString::number(i + 1), locations[i]});
    RegistryKey().replaceStrings(recentSection, values);
}

} // namespace CatalogueLocation
