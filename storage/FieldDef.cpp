#include "FieldDef.h"

#include <QRegularExpression>

bool FieldDef::isBlob() const
{
    return kind == FieldKind::Memo || kind == FieldKind::Graphic || kind == FieldKind::Binary;
}

bool FieldDef::isInteger() const
{
    return kind == FieldKind::SmallInt || kind == FieldKind::Integer ||
           kind == FieldKind::AutoInc || kind == FieldKind::Boolean;
}

std::optional<FieldDef> fieldNamed(const QList<FieldDef> &fields, const QString &name)
{
    for (const FieldDef &field : fields) {
        if (field.name.compare(name, Qt::CaseInsensitive) == 0)
            return field;
    }
    return std::nullopt;
}

namespace {

// Blob subtypes as the declarations write them: Blob(size, subtype).
FieldKind blobKind(int subtype)
{
    switch (subtype) {
    case 0:
    case 1:
        return FieldKind::Memo;
    case 5:
        return FieldKind::Graphic;
    default:
        return FieldKind::Binary;
    }
}

} // namespace

FieldDef FieldDef::fromDeclaration(const QString &name, const QString &declaredType)
{
    FieldDef def;
    def.name = name;
    def.declaredType = declaredType.trimmed();
    const QString type = def.declaredType.toUpper();

    static const QRegularExpression charType(
        QStringLiteral("^(?:CHAR|VARCHAR|ALPHA)\\s*\\(\\s*(\\d+)\\s*\\)$"));
    static const QRegularExpression blobType(
        QStringLiteral("^BLOB\\s*\\(\\s*\\d+\\s*,\\s*(\\d+)\\s*\\)$"));
    if (const auto m = charType.match(type); m.hasMatch()) {
        def.kind = FieldKind::String;
        def.size = m.captured(1).toInt();
    } else if (const auto b = blobType.match(type); b.hasMatch()) {
        def.kind = blobKind(b.captured(1).toInt());
    } else if (type == QLatin1String("AUTOINC")) {
        def.kind = FieldKind::AutoInc;
    } else if (type == QLatin1String("INTEGER") || type == QLatin1String("INT") ||
               type == QLatin1String("LONGINT")) {
        def.kind = FieldKind::Integer;
    } else if (type == QLatin1String("SMALLINT") || type == QLatin1String("SHORT")) {
        def.kind = FieldKind::SmallInt;
    } else if (type == QLatin1String("BOOLEAN") || type == QLatin1String("LOGICAL")) {
        def.kind = FieldKind::Boolean;
    } else if (type == QLatin1String("DATE")) {
        def.kind = FieldKind::Date;
    } else if (type == QLatin1String("TIME")) {
        def.kind = FieldKind::Time;
    } else if (type == QLatin1String("TIMESTAMP") || type == QLatin1String("DATETIME")) {
        def.kind = FieldKind::DateTime;
    } else if (type == QLatin1String("FLOAT") || type == QLatin1String("NUMERIC") ||
               type == QLatin1String("MONEY") || type == QLatin1String("REAL")) {
        def.kind = FieldKind::Float;
    } else if (type == QLatin1String("BLOB") || type == QLatin1String("BINARY")) {
        def.kind = FieldKind::Binary;
    } else if (type == QLatin1String("TEXT") || type == QLatin1String("MEMO")) {
        def.kind = FieldKind::Memo;
    }
    return def;
}
