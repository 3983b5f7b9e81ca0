#include "EngineError.h"
#include "ServerSession.h"
#include "ServerText.h"

// Rows of a table without a key of its own (the relation tables) are known by
// their place, and every update gives a row a new place. So that another
// desk's edit of such a row is told from its deletion, each program notes
// where it moved a row, with the row's version before and after, in a journal
// of its own beside the catalogue's tables. A place with its version names
// one row for good: a place freed by the server's clean-up and taken by
// another row comes with another version.

using namespace ServerText;

namespace {

// A move older than this is forgotten: an edit left open longer is told its
// row is gone, and what was typed can still be saved as a new record.
constexpr int keptDays = 30;
// A row changed more often than this while one desk edited it is let go of.
constexpr int longestFollowed = 100;

// The server's versions are transaction numbers: anything else is the mark of
// a version not read, left by a record that was no longer as shown.
bool versionKnown(const QString &version)
{
    return !version.isEmpty() && version.front().isDigit();
}

} // namespace

QString ServerSession::rowMovesTable()
{
    return schema + '.' + QLatin1String(rowMovesName);
}

// The journal is made by the first role that may make it (the catalogue's
// owner); a role that may not write to it edits without it, as other programs
// do.
bool ServerSession::keepsRowMoves()
{
    if (m_keepsRowMoves)
        return *m_keepsRowMoves;
    const auto state = [this] {
        return run(QStringLiteral("SELECT pg_catalog.to_regclass($1) IS NOT NULL, "
                                  "pg_catalog.has_schema_privilege($2, 'CREATE')"),
                   {rowMovesTable(), schema});
    };
    PgResult found = state();
    if (!found.value(0, 0).toBool() && found.value(0, 1).toBool()) {
        try {
            run(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (tbl text NOT NULL, old_place tid "
                               "NOT NULL, old_version text NOT NULL, new_place tid NOT NULL, "
                               "new_version text NOT NULL, moved timestamptz NOT NULL DEFAULT "
                               "pg_catalog.now(), PRIMARY KEY (tbl, old_place, old_version))")
                    .arg(rowMovesTable()));
        } catch (const EngineError &) {
            // Another desk made it at the same moment.
        }
        found = state();
    }
    m_keepsRowMoves = found.value(0, 0).toBool() &&
                      run(QStringLiteral("SELECT pg_catalog.has_table_privilege($1, 'INSERT')"),
                          {rowMovesTable()})
                          .value(0, 0)
                          .toBool();
    if (*m_keepsRowMoves)
        run(QStringLiteral("DELETE FROM %1 WHERE moved < pg_catalog.now() - interval '%2 days'")
                .arg(rowMovesTable())
                .arg(keptDays),
            {}, QLatin1String(rowMovesName));
    return *m_keepsRowMoves;
}

void ServerSession::noteRowMove(const TableRef &table, qint64 from, const QString &fromVersion,
                                qint64 to, const QString &toVersion)
{
    run(QStringLiteral("INSERT INTO %1 (tbl, old_place, old_version, new_place, new_version) "
                       "VALUES ($1, $2::tid, $3, $4::tid, $5) ON CONFLICT DO NOTHING")
            .arg(rowMovesTable()),
        {table.fileName, tupleText(from), fromVersion, tupleText(to), toVersion}, table.fileName);
}

// Follows the row from where this desk read it to where the other desks'
// edits left it; nothing when it was deleted or its moves are not known.
std::optional<qint64> ServerSession::placeNow(const TableRef &table, qint64 place, QString version)
{
    if (!keepsRowMoves())
        return std::nullopt;
    bool moved = false;
    for (int step = 0; step < longestFollowed; ++step) {
        // A version not read: the place's one known move, if it had only one.
        const PgResult next = run(
            QStringLiteral("SELECT new_place, new_version FROM %1 WHERE tbl = $1 AND old_place = "
                           "$2::tid AND (coalesce($3, '') = '' OR old_version = $3)")
                .arg(rowMovesTable()),
            {table.fileName, tupleText(place), versionKnown(version) ? version : QString()},
            table.fileName);
        if (next.rows() != 1)
            break;
        place = next.int64(0, 0);
        version = next.value(0, 1).toString();
        moved = true;
    }
    if (!moved)
        return std::nullopt;
    const PgResult there = run(QStringLiteral("SELECT 1 FROM %1 WHERE ctid = $1::tid AND "
                                              "xmin::text = $2")
                                   .arg(table.qualified()),
                               {tupleText(place), version}, table.fileName);
    return there.rows() > 0 ? std::optional<qint64>(place) : std::nullopt;
}
