#pragma once

#include "SqlText.h"

// Names and texts as the server kind writes them into its own statements.
namespace ServerText {

// Every table of a catalogue lives in this schema of its database.
inline const QString schema = QStringLiteral("public");

// A name as the server keeps every name of a catalogue: in lower case.
inline QString quotedLower(const QString &name)
{
    return SqlText::quoted(name.toLower());
}

inline QString literal(const QString &text)
{
    return '\'' + QString(text).replace('\'', QStringLiteral("''")) + '\'';
}

inline QString stemOf(const QString &fileName)
{
    return fileName.section('.', 0, 0);
}

} // namespace ServerText
