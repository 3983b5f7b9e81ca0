#pragma once

#include "ChildLimits.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QStringList>

// A spreadsheet read for import: the first line's texts and every line after it.
struct TextTable
{
    QStringList header;
    QList<QStringList> rows;
    // Where each row begins, as the user finds it: the file's line of a text,
    // the sheet's row number of a workbook.
    QList<int> lines;
    // Rows that could not be read as they stand (a line that is not text of
    // the file's encoding, a quote never closed...): row -> the reason.
    QHash<int, QString> damaged;
};

// How much of an untrusted file is read at most: a file past any of these is
// refused with the reason rather than read to the end. Memory is bounded by
// what is held (cells and characters), not only by rows and columns, since a
// small file can describe a large sheet.
struct ReadLimits
{
    // A text file is held whole while it is decoded (twice its size in memory).
    qint64 maxFileBytes = 128LL << 20;
    qint64 maxPartBytes = 256LL << 20; // one unpacked part of a zip
    int maxRows = 1'000'000;
    int maxColumns = 256;
    // About 24 bytes each even when empty: 100 MB of cells at most.
    qint64 maxCells = 4'000'000;
    // Characters held in all cells (two bytes each); a text that many cells
    // share is counted at every cell, as the import handles it that often.
    qint64 maxCharacters = 64LL << 20;
    int maxSeconds = 60;
    // The program that reads XLS files in a process of its own
    // (`quillon --read-xls`); empty: the running program. Its address space (0: unbounded).
    QString xlsProgram;
    qint64 xlsAddressSpace = ChildLimits::defaultAddressSpace;
};

// Gathers a sheet's cells within the limits, row by row; throws FileError with
// the reason past any of them or past the deadline.
class TableBuilder
{
public:
    explicit TableBuilder(const ReadLimits &limits);

    // Sets a cell of the current row. Empty cells are not held: the cells
    // before a filled one are made only when it comes.
    void setCell(int column, const QString &value);
    // Marks the current row as unreadable; the first reason stays.
    void markDamaged(const QString &reason);
    // Ends the current row, which began at `line`; a row without a filled cell
    // is dropped (its line still counts).
    void endRow(int line);
    // Counts memory held elsewhere for the sheet (a workbook's shared texts).
    void charge(qint64 cells, qint64 characters);
    // Throws once the deadline has passed; cheap enough for every element.
    void checkTime();
    // The same, reading the clock at once (after a long step).
    void checkDeadline();
    int maxColumns() const { return m_limits.maxColumns; }
    // The first row kept becomes the header.
    TextTable finish();

private:
    const ReadLimits &m_limits;
    QDeadlineTimer m_deadline;
    quint32 m_calls = 0;
    qint64 m_cells = 0;
    qint64 m_characters = 0;
    QStringList m_row;
    QString m_damage;
    TextTable m_table;
};
