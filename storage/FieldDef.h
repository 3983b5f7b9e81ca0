#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The kinds of field a table can hold; the declared type text of a column
// (kept in the table file) tells which.
enum class FieldKind
{
    String,
    SmallInt,
    Integer,
    AutoInc,
    Boolean,
    Float,
    Date,
    Time,
    DateTime,
    Memo,
    Graphic,
    Binary,
    Unknown
};

struct FieldDef
{
    QString name;
    FieldKind kind = FieldKind::Unknown;
    int size = 0; // characters, for text fields
    QString declaredType;

    bool isText() const { return kind == FieldKind::String; }
    bool isBlob() const;
    bool isInteger() const;

    // Reads "CHAR(60)", "AutoInc", "Blob(0,0)" and the rest into kind and size.
    static FieldDef fromDeclaration(const QString &name, const QString &declaredType);
};

// The field of that name, letter case ignored (field names ignore case).
std::optional<FieldDef> fieldNamed(const QList<FieldDef> &fields, const QString &name);

struct IndexDef
{
    QString name; // empty for the primary index
    QStringList fields;
    bool primary = false;
    bool unique = false;
    bool caseInsensitive = false;
};

// The SQLite index name under which a table keeps its primary index.
inline const QString primaryIndexName = QStringLiteral("Primary");
