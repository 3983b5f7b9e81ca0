#include "CatalogueCopy.h"

#include "BaseMaker.h"
#include "CatalogueLocation.h"
#include "EngineError.h"
#include "Session.h"
#include "StorageUi.h"
#include "TableTransfer.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <vector>

namespace {

using RowHash = std::array<char, 32>;

QString tableName(const QString &fileName)
{
    return QFileInfo(fileName).completeBaseName();
}

// One value in a form that does not depend on how an engine hands it over:
// its kind, then its bytes with their length.
void writeValue(QByteArray &out, const QVariant &value)
{
    char kind = 'T';
    QByteArray bytes;
    if (!value.isValid() || value.isNull()) {
        kind = 'N';
    } else {
        switch (value.typeId()) {
        case QMetaType::Bool:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Short:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            kind = 'I';
            bytes = QByteArray::number(value.toLongLong());
            break;
        case QMetaType::Double:
            kind = 'R';
            bytes = QByteArray::number(value.toDouble(), 'g', 17);
            break;
        case QMetaType::QByteArray:
            kind = 'B';
            bytes = value.toByteArray();
            break;
        case QMetaType::QDate:
            bytes = value.toDate().toString(Qt::ISODate).toUtf8();
            break;
        default:
            bytes = value.toString().toUtf8();
        }
    }
    out += kind;
    out += QByteArray::number(bytes.size());
    out += ':';
    out += bytes;
}

// The columns of a statement by lower-case name, in name order: the server
// folds names to lower case and may give the fields in another order.
QList<std::pair<QString, int>> columnsByName(const Statement &rows)
{
    QList<std::pair<QString, int>> columns;
    for (int i = 0; i < rows.columnCount(); ++i)
        columns.append({rows.columnName(i).toLower(), i});
    std::sort(columns.begin(), columns.end());
    return columns;
}

// Where a copy goes: its folder made when it was not there, and the copy
// taken away again when it does not come about.
class Target
{
public:
    explicit Target(QString location)
        : m_location(std::move(location)), m_made(CatalogueLocation::makePlaceFor(m_location))
    {}

    void removeTables(const QStringList &tables) const noexcept
    {
        if (m_made) {
            QDir(m_location).removeRecursively();
            return;
        }
        try {
            const std::unique_ptr<Session> target = Session::open(m_location);
            for (const QString &table : tables)
                target->dropTable(table);
        } catch (const std::exception &) {
            // The copy's own failure is what the user is told; what is left
            // keeps the place from being taken for empty, so nothing is lost.
        }
    }

private:
    QString m_location;
    bool m_made;
};

void refuseUnsuitable(const QString &from, const QString &to)
{
    if (const QString cause = CatalogueLocation::unreachableCause(from); !cause.isEmpty())
        throw EngineError(CatalogueLocation::unreachableMessage(from, cause));
    if (!CatalogueLocation::holdsCatalogue(from))
        throw EngineError(
            QStringLiteral("Нет каталога: %1.").arg(CatalogueLocation::described(from)));
    // A folder may also be reached by another path (a link).
    const QString canonical = QFileInfo(from).canonicalFilePath();
    if (CatalogueLocation::identity(from) == CatalogueLocation::identity(to) ||
        (!canonical.isEmpty() && canonical == QFileInfo(to).canonicalFilePath()))
        throw EngineError(QStringLiteral("Каталог нельзя скопировать в него же."));
    if (QFileInfo(to).isFile())
        throw EngineError(QStringLiteral("%1 — это файл, а не папка.").arg(to));
    if (CatalogueLocation::holdsCatalogue(to))
        throw EngineError(QStringLiteral("Копировать можно только в пустое место, а там уже есть "
                                         "каталог: %1.")
                              .arg(CatalogueLocation::described(to)));
}

void compareTables(const QString &from, const QString &to, const QStringList &tables)
{
    const std::unique_ptr<Session> source = Session::open(from);
    const std::unique_ptr<Session> target = Session::open(to);
    for (const QString &file : tables) {
        const CatalogueCopy::TableSum original = CatalogueCopy::sumOf(*source, tableName(file));
        const CatalogueCopy::TableSum copied = CatalogueCopy::sumOf(*target, tableName(file));
        if (original.rows != copied.rows)
            throw EngineError(QStringLiteral("%1: в копии %2 записей, а в исходном каталоге %3.")
                                  .arg(file)
                                  .arg(copied.rows)
                                  .arg(original.rows));
        if (original.sha256 != copied.sha256)
            throw EngineError(
                QStringLiteral("%1: записи копии отличаются от исходных (контрольная сумма).")
                    .arg(file));
    }
}

} // namespace

namespace CatalogueCopy {

TableSum sumOf(Session &session, const QString &table)
{
    Statement rows = session.prepare(QStringLiteral("Select * From ") + table);
    const QList<std::pair<QString, int>> columns = columnsByName(rows);
    std::vector<RowHash> hashes;
    QByteArray row;
    while (rows.step()) {
        row.clear();
        for (const auto &[name, index] : columns) {
            row += name.toUtf8();
            row += '=';
            writeValue(row, rows.value(index));
        }
        const QByteArray hash = QCryptographicHash::hash(row, QCryptographicHash::Sha256);
        RowHash &kept = hashes.emplace_back();
        std::copy(hash.begin(), hash.end(), kept.begin());
    }
    // Sorted, the hashes say the same whatever order the engine read the rows in.
    std::sort(hashes.begin(), hashes.end());
    QCryptographicHash whole(QCryptographicHash::Sha256);
    for (const RowHash &hash : hashes)
        whole.addData(QByteArrayView(hash.data(), qsizetype(hash.size())));
    return {qint64(hashes.size()), whole.result().toHex()};
}

void copy(const QString &from, const QString &to, const QString &descriptionFile,
          const QStringList &tables, StorageUi &ui, const Report &report)
{
    refuseUnsuitable(from, to);
    const Target target(to);
    try {
        BaseMaker::verifyCatalogue(descriptionFile, to, false, false, ui);
        {
            const std::unique_ptr<Session> source = Session::open(from);
            const std::unique_ptr<Session> copied = Session::open(to);
            for (const QString &file : tables) {
                const qint64 rows =
                    TableTransfer::copyRows(*source, *copied, file, [&ui] { ui.keepAlive(); });
                TableTransfer::carryKeysHandedOut(*source, *copied, file);
                if (report)
                    report(file, rows);
            }
        }
        compareTables(from, to, tables);
    } catch (...) {
        target.removeTables(tables);
        throw;
    }
}

} // namespace CatalogueCopy
