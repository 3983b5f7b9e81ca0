#pragma once

#include <QList>
#include <QStringList>

// A spreadsheet read for import: the first line's texts and every line after it.
struct TextTable
{
    QStringList header;
    QList<QStringList> rows;
};

// How much of an untrusted file is read at most: a file past any of these is
// refused with the reason rather than read to the end.
struct ReadLimits
{
    qint64 maxFileBytes = 256LL << 20;
    qint64 maxPartBytes = 256LL << 20; // one unpacked part of a zip
    int maxRows = 1'000'000;
    int maxColumns = 256;
    int maxSeconds = 60;
};
