#include "RowVersion.h"

#include "SqlText.h"

#include <QCryptographicHash>
#include <cstring>
#include <sqlite3.h>

namespace {

// Every value is hashed with its kind and length, so that a blank, an empty
// blob and the text "0" never pass for one another.
void addValue(QCryptographicHash &digest, sqlite3_value *value)
{
    const int type = sqlite3_value_type(value);
    const int length = sqlite3_value_bytes(value);
    const void *bytes = type == SQLITE_BLOB ? sqlite3_value_blob(value)
                                            : static_cast<const void *>(sqlite3_value_text(value));
    const char header[2] = {char(type), 0};
    digest.addData(QByteArrayView(header, 2));
    digest.addData(QByteArrayView(reinterpret_cast<const char *>(&length), sizeof length));
    if (type != SQLITE_NULL && bytes)
        digest.addData(QByteArrayView(static_cast<const char *>(bytes), length));
}

void rowVersion(sqlite3_context *context, int count, sqlite3_value **values)
{
    QCryptographicHash digest(QCryptographicHash::Md5);
    for (int i = 0; i < count; ++i)
        addValue(digest, values[i]);
    const QByteArray result = digest.result();
    qint64 version = 0;
    std::memcpy(&version, result.constData(), sizeof version);
    sqlite3_result_int64(context, version);
}

} // namespace

namespace RowVersion {

void install(sqlite3 *db)
{
    sqlite3_create_function(db, functionName, -1,
                            SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                            rowVersion, nullptr, nullptr);
}

QString expression(const QString &alias, const QStringList &columns)
{
    QStringList named;
    for (const QString &column : columns)
        named << (alias.isEmpty() ? QString() : alias + '.') + SqlText::quoted(column);
    return QStringLiteral("%1(%2)").arg(QLatin1String(functionName), named.join(','));
}

} // namespace RowVersion
