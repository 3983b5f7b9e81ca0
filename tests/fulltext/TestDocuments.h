#pragma once

#include "Query.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Real documents of every kind the index reads, made here rather than kept
// as files: a PDF drawn by Qt's PDF writer, office documents built as zips.
namespace TestDocuments {

QByteArray pdf(const QString &text);
QByteArray docx(const QString &text);
QByteArray xlsx(const QString &text);
QByteArray odt(const QString &text);
QByteArray ods(const QString &text);
// The spreadsheet in the old binary format kept in fixtures/.
QByteArray xls();
QByteArray csvUtf8(const QString &text);
QByteArray csvUtf16(const QString &text);
QByteArray csv1251(const QString &text);
QByteArray html(const QString &text);

QByteArray zip(const QList<std::pair<QString, QByteArray>> &entries);
// A document.xml of `size` zero-ish bytes that packs to almost nothing.
QByteArray zipBomb(qint64 size);
QByteArray damagedPdf();
// The PDF in fixtures/ that opens only with a password.
QByteArray lockedPdf();
// A DOCX whose document part is cut off in the middle of its XML.
QByteArray brokenXmlDocx();
// A DOCX whose document part is encrypted.
QByteArray encryptedDocx();
// The bytes packed as the catalogue stores them.
QByteArray packed(const QByteArray &bytes);

// Attaches a file as the editors do: the guard lowered around the append,
// the bytes packed at the highest level, the row posted. Returns its FileID.
qint64 attach(Query &files, const QString &ownerField, qint64 ownerKey, const QString &description,
              const QByteArray &bytes);

} // namespace TestDocuments
