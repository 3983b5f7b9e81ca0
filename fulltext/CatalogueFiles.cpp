#include "CatalogueFiles.h"

#include "Session.h"

CatalogueFiles::CatalogueFiles(const QString &dataDirectory)
    : m_session(Session::open(dataDirectory))
{}

CatalogueFiles::~CatalogueFiles() = default;

QList<CatalogueFile> CatalogueFiles::select(const QString &condition, qint64 fileId)
{
    // length() of a stored file reads its size from the row's header, not the bytes.
    Statement statement = m_session->prepare(
        QStringLiteral("Select FileID, FirmID, ItemID, Description, length(File) From Files "
                       "Where FileID is not null ") +
        condition);
    if (fileId != 0)
        statement.bind(1, fileId);
    QList<CatalogueFile> files;
    while (statement.step()) {
        files.append({statement.int64(0), statement.int64(1), statement.int64(2),
                      statement.value(3).toString(), statement.int64(4)});
    }
    return files;
}

QList<CatalogueFile> CatalogueFiles::rows()
{
    return select({});
}

std::optional<CatalogueFile> CatalogueFiles::row(qint64 fileId)
{
    const QList<CatalogueFile> found = select(QStringLiteral("and FileID = ?"), fileId);
    if (found.isEmpty())
        return std::nullopt;
    return found.first();
}

std::optional<QByteArray> CatalogueFiles::packed(qint64 fileId)
{
    Statement statement =
        m_session->prepare(QStringLiteral("Select File From Files Where FileID = ?"));
    statement.bind(1, fileId);
    if (!statement.step())
        return std::nullopt;
    return statement.value(0).toByteArray();
}

QString CatalogueFiles::ownerName(const CatalogueFile &file)
{
    const bool firm = file.firmId != 0;
    Statement statement =
        m_session->prepare(firm ? QStringLiteral("Select Name From Firms Where FirmID = ?")
                                : QStringLiteral("Select Name From Items Where ItemID = ?"));
    statement.bind(1, firm ? file.firmId : file.itemId);
    const QString name = statement.step() ? statement.value(0).toString() : QString();
    return (firm ? QStringLiteral("Фирма «") : QStringLiteral("Элемент «")) + name + u'»';
}
