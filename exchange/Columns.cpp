#include "Columns.h"

#include "Session.h"
#include "Statement.h"
#include "TextRules.h"

#include <QSet>

namespace {

// A group's path: its ancestors' names and its own, from the root down.
const QString pathSeparator = QStringLiteral(" / ");
// Between the groups or folders of one record.
const QString listSeparator = QStringLiteral("; ");

struct Label
{
    QString field;
    QString firms; // the firm editor's label
    QString items; // the item editor's label; empty where it has no such box
};

// In the editors' tab order.
const QList<Label> labels = {
    {QStringLiteral("Name"), QStringLiteral("Наименование"), QStringLiteral("Наименование")},
    {QStringLiteral("Sinonyms"), QStringLiteral("Другие названия"), QStringLiteral("Синонимы")},
    {QStringLiteral("Description"), QStringLiteral("Описание"), QStringLiteral("Описание")},
    {Columns::types, QStringLiteral("Тип фирмы"), QStringLiteral("Тип элемента")},
    {QStringLiteral("Address"), QStringLiteral("Адрес"), {}},
    {QStringLiteral("Phones"), QStringLiteral("Телефон"), {}},
    {QStringLiteral("Email"), QStringLiteral("e-mail"), {}},
    {QStringLiteral("WWW"), QStringLiteral("WWW"), {}},
    {Columns::folders, QStringLiteral("Папки"), QStringLiteral("Папки")}};

// Headers compared without case, blanks and punctuation: "E-mail", "email"
// and "Эл. почта" are "EMAIL" and "ЭЛПОЧТА".
QString folded(const QString &header)
{
    QString key;
    for (const QChar c : TextRules::upper(header)) {
        if (c.isLetterOrNumber())
            key += c == QChar(0x0401) ? QChar(0x0415) : c; // Ё as Е
    }
    return key;
}

// Headers that people write instead of the editors' labels, folded.
const QHash<QString, QString> &synonyms()
{
    static const QHash<QString, QString> words = [] {
        const QList<std::pair<QString, QStringList>> lists = {
            {QStringLiteral("Name"),
             {"Наименование", "Название", "Имя", "Фирма", "Организация", "Компания", "Предприятие",
              "Наименование фирмы", "Название фирмы", "Товар", "Элемент", "Наименование товара",
              "Title", "Company"}},
            {QStringLiteral("Sinonyms"),
             {"Другие названия", "Другое название", "Синонимы", "Синоним", "Также"}},
            {QStringLiteral("Description"),
             {"Описание", "Примечание", "Примечания", "Комментарий", "Note", "Notes"}},
            {QStringLiteral("Address"),
             {"Адрес", "Почтовый адрес", "Юридический адрес", "Фактический адрес"}},
            {QStringLiteral("Phones"),
             {"Телефон", "Телефоны", "Тел", "Номер телефона", "Контактный телефон", "Phone",
              "Tel"}},
            {QStringLiteral("Email"),
             {"e-mail", "Почта", "Эл. почта", "Электронная почта", "Емейл", "Mail"}},
            {QStringLiteral("WWW"),
             {"WWW", "Сайт", "Веб-сайт", "Web", "URL", "Интернет", "Website", "Site"}},
            {Columns::types,
             {"Тип фирмы", "Типы фирм", "Тип элемента", "Типы элементов", "Тип", "Типы", "Группа",
              "Группы"}},
            {Columns::folders, {"Папки", "Папка"}}};
        QHash<QString, QString> byWord;
        for (const auto &[field, words] : lists) {
            for (const QString &word : words)
                byWord.insert(folded(word), field);
        }
        return byWord;
    }();
    return words;
}

QString joined(QStringList names)
{
    names.sort(Qt::CaseInsensitive);
    return names.join(listSeparator);
}

} // namespace

namespace Columns {

QString caption(ListTarget target, const QString &field)
{
    for (const Label &label : labels) {
        if (label.field == field) {
            const QString text = target == ListTarget::Firms ? label.firms : label.items;
            return text.isEmpty() ? field : text;
        }
    }
    return field;
}

QStringList exchanged(const QStringList &textFields)
{
    QStringList columns;
    for (const Label &label : labels) {
        const bool membership = label.field == types || label.field == folders;
        if (membership || textFields.contains(label.field))
            columns.append(label.field);
    }
    for (const QString &field : textFields) {
        if (!columns.contains(field))
            columns.append(field);
    }
    return columns;
}

QString fieldOfHeader(ListTarget target, const QString &header, const QStringList &textFields)
{
    const QString key = folded(header);
    if (key.isEmpty())
        return {};
    for (const QString &field : textFields) {
        if (folded(field) == key || folded(caption(target, field)) == key)
            return field;
    }
    const QString field = synonyms().value(key);
    return field == types || field == folders || textFields.contains(field) ? field : QString();
}

Memberships::Memberships(Session &session, ListTarget target) : m_target(target)
{
    const bool firms = target == ListTarget::Firms;
    QHash<int, std::pair<int, QString>> groups; // key -> (parent, name)
    Statement rows =
        session.prepare(QStringLiteral("SELECT GroupID, UpGroupID, Description FROM %1")
                            .arg(firms ? QStringLiteral("GrFirms") : QStringLiteral("GrItems")));
    while (rows.step())
        groups.insert(int(rows.int64(0)), {int(rows.int64(1)), rows.value(2).toString()});
    QHash<QString, int> nameCount;
    for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
        // Up to the root; a loop of parents ends where a key comes again.
        QStringList path{it->second};
        QSet<int> seen{it.key()};
        for (int parent = it->first;
             parent != 0 && groups.contains(parent) && !seen.contains(parent);
             parent = groups[parent].first) {
            seen.insert(parent);
            path.prepend(groups[parent].second);
        }
        m_groupPaths.insert(it.key(), path.join(pathSeparator));
        m_groupKeys.insert(TextRules::upper(m_groupPaths[it.key()]), it.key());
        nameCount[TextRules::upper(it->second)] += 1;
    }
    for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
        const QString name = TextRules::upper(it->second);
        if (nameCount.value(name) == 1 && !m_groupKeys.contains(name))
            m_groupKeys.insert(name, it.key());
    }
    Statement folderRows =
        session.prepare(QStringLiteral("SELECT FolderID, Description FROM Folders"));
    while (folderRows.step()) {
        const int key = int(folderRows.int64(0));
        m_folderNames.insert(key, folderRows.value(1).toString());
        m_folderKeys.insert(TextRules::upper(m_folderNames[key]), key);
    }
}

void Memberships::readMembers(Session &session)
{
    const bool firms = m_target == ListTarget::Firms;
    Statement groupRows =
        session.prepare(firms ? QStringLiteral("SELECT FirmID, GroupID FROM GrpFrm")
                              : QStringLiteral("SELECT ItemID, GroupID FROM GrpItm"));
    while (groupRows.step())
        m_groupsOf.insert(groupRows.int64(0), int(groupRows.int64(1)));
    // A firm's row has its FirmID and ItemID 0; an item's row a blank FirmID.
    Statement folderRows = session.prepare(
        firms ? QStringLiteral("SELECT FirmID, FolderID FROM CrFolders WHERE FirmID IS NOT NULL")
              : QStringLiteral("SELECT ItemID, FolderID FROM CrFolders WHERE FirmID IS NULL"));
    while (folderRows.step())
        m_foldersOf.insert(folderRows.int64(0), int(folderRows.int64(1)));
}

QString Memberships::listOf(const QMultiHash<qint64, int> &members,
                            const QHash<int, QString> &names, qint64 key) const
{
    QStringList list;
    for (const int member : members.values(key)) {
        // A membership of a group or folder since deleted names nothing.
        if (names.contains(member))
            list.append(names.value(member));
    }
    list.removeDuplicates();
    return joined(list);
}

QString Memberships::typesOf(qint64 key) const
{
    return listOf(m_groupsOf, m_groupPaths, key);
}

QString Memberships::foldersOf(qint64 key) const
{
    return listOf(m_foldersOf, m_folderNames, key);
}

Memberships::Named Memberships::named(const QString &list, const QHash<QString, int> &keys)
{
    Named result;
    for (const QString &piece : list.split(';')) {
        const QString name = piece.trimmed();
        if (name.isEmpty())
            continue;
        const auto found = keys.constFind(TextRules::upper(name));
        if (found == keys.cend())
            result.unknown.append(name);
        else if (!result.keys.contains(found.value()))
            result.keys.append(found.value());
    }
    return result;
}

Memberships::Named Memberships::groupsNamed(const QString &list) const
{
    return named(list, m_groupKeys);
}

Memberships::Named Memberships::foldersNamed(const QString &list) const
{
    return named(list, m_folderKeys);
}

} // namespace Columns
