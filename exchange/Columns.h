#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

class Session;

// Which list a spreadsheet holds.
enum class ListTarget
{
    Firms,
    Items
};

// The columns of an exchanged list as a user reads them: the editors' labels
// for the fields, and the record's types and folders as readable lists.
namespace Columns {

// Stand for the record's group and folder memberships beside its fields.
inline const QString types = QStringLiteral("@types");
inline const QString folders = QStringLiteral("@folders");

// The label the editors give a field or a membership list ("Наименование"
// for Name); a field no editor shows keeps its own name.
QString caption(ListTarget target, const QString &field);

// The text fields of a list followed by the membership lists, in the
// editors' order: name, other names, description, types, then the contact
// fields of a firm, then folders; fields no editor shows come last.
QStringList exchanged(const QStringList &textFields);

// What a column header names: a field, a membership list, or nothing (empty).
// The editors' labels, the fields' own names and common synonyms ("Почта",
// "Сайт") are recognised, letter case, blanks and punctuation ignored.
QString fieldOfHeader(ListTarget target, const QString &header, const QStringList &textFields);

// Names of groups and folders and the memberships of records, read once.
class Memberships
{
public:
    Memberships(Session &session, ListTarget target);

    // The memberships of every record, for an export.
    void readMembers(Session &session);
    // "Поставщики / Металл; Производители": each group by its path from the root.
    QString typesOf(qint64 key) const;
    QString foldersOf(qint64 key) const;

    // The groups or folders a list names (by path or by a name no other
    // group has), and the names it holds that name none.
    struct Named
    {
        QList<int> keys;
        QStringList unknown;
    };
    Named groupsNamed(const QString &list) const;
    Named foldersNamed(const QString &list) const;

private:
    QString listOf(const QMultiHash<qint64, int> &members, const QHash<int, QString> &names,
                   qint64 key) const;
    static Named named(const QString &list, const QHash<QString, int> &keys);

    ListTarget m_target;
    QHash<int, QString> m_groupPaths;
    QHash<int, QString> m_folderNames;
    QHash<QString, int> m_groupKeys;  // upper-cased path or unique name -> key
    QHash<QString, int> m_folderKeys; // upper-cased name -> key
    QMultiHash<qint64, int> m_groupsOf;
    QMultiHash<qint64, int> m_foldersOf;
};

} // namespace Columns
