#pragma once

#include "Columns.h"
#include "TextTable.h"

#include <QHash>
#include <QMap>
#include <QString>
#include <functional>
#include <memory>

class Session;

// Firms or items read from a spreadsheet into the catalogue.
namespace Import {

using Target = ListTarget;

// The fields a column may fill, in the table's order, with their sizes.
struct TextField
{
    QString name;
    int size = 0;
};
QList<TextField> textFields(Session &session, Target target);

// Columns whose header names a field or a membership list (the editors'
// labels, the fields' own names, common synonyms) are mapped to it, the
// first such column of each. Field -> column.
QMap<QString, int> guessMapping(Target target, const QStringList &header,
                                const QList<TextField> &fields);

// A text cut to a field's size, never inside a character: a letter with its
// accents or a character beyond the basic plane stays whole or goes whole.
QString cutToSize(const QString &text, int size);

struct Options
{
    Target target = Target::Firms;
    QMap<QString, int> mapping; // field (or Columns::types, Columns::folders) -> column
    int folderId = 0;           // 0: no folder
    int groupId = 0;            // 0: no group
    bool updateExisting = false;
};

// What an import will do, worked out before anything is written.
struct Plan
{
    enum class Action
    {
        Add,
        Update,
        Skip,
        Refuse
    };
    QList<Action> actions;        // one per row
    QHash<int, qint64> updateKey; // row -> key of the record it updates
    int added = 0;
    int existing = 0; // rows whose name the catalogue (or an earlier row) has already
    int cutValues = 0;
    QList<std::pair<int, QString>> refused; // line as the file counts it, reason
    // The groups and folders a row's lists name, and the names that name none.
    QHash<int, QList<int>> groupsOf, foldersOf;
    QStringList unknownNames;
};

Plan plan(Session &session, const TextTable &table, const Options &options);

// What a plan needs of the catalogue, read once by a window that plans anew
// at every change of its choices: the fields, and the names by key.
struct Known
{
    QList<TextField> fields;
    QHash<QString, qint64> names; // upper-cased name -> key
    std::shared_ptr<const Columns::Memberships> memberships;
};
Known readKnown(Session &session, Target target);
Plan plan(const Known &known, const TextTable &table, const Options &options);

// Carries out the plan in one transaction per table: it either completes or
// changes nothing. The plan is made again once the write lock is held, so
// that names another import added meanwhile are known; `plan` is left as it
// was carried out. `progress` gets the share done (0 to 1) and returns false
// to cancel, which rolls everything back. Returns the keys of added records.
QList<qint64> run(Session &session, const TextTable &table, const Options &options, Plan &plan,
                  const std::function<bool(double)> &progress = {});

// The folders new records may go to (key, name), in the order of creation.
QList<std::pair<int, QString>> folders(Session &session);
// The groups of the target's type tree (key, name indented by its depth),
// each group under its parent.
QList<std::pair<int, QString>> groups(Session &session, Target target);

// Reads a spreadsheet of any kind read (CSV, XLSX, XLS, ODS), told by its content.
TextTable readFile(const QString &path, const ReadLimits &limits = {});

} // namespace Import
