#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

class Session;

// An attached file as the catalogue holds it, without its bytes.
struct CatalogueFile
{
    qint64 fileId = 0;
    qint64 firmId = 0; // 0 when the file belongs to an item
    qint64 itemId = 0; // 0 when the file belongs to a firm
    QString description;
    qint64 packedSize = 0; // bytes of the stored (packed) file

    bool sameDetails(const CatalogueFile &other) const
    {
        return firmId == other.firmId && itemId == other.itemId &&
               description == other.description;
    }
};

// The attached files of the catalogue as the index reads them. This is the
// one place where the index meets the catalogue: through a connection of
// the engine's own and the catalogue's SQL, in short statements, so that the
// window's posts never wait for it. Used from one thread.
class CatalogueFiles
{
public:
    explicit CatalogueFiles(const QString &dataDirectory);
    ~CatalogueFiles();
    CatalogueFiles(const CatalogueFiles &) = delete;
    CatalogueFiles &operator=(const CatalogueFiles &) = delete;

    // Every file, without reading a byte of the stored files themselves.
    QList<CatalogueFile> rows();
    std::optional<CatalogueFile> row(qint64 fileId);
    // The stored bytes of a file; nullopt when its row is gone.
    std::optional<QByteArray> packed(qint64 fileId);
    // "Фирма «…»" or "Элемент «…»": whose file it is.
    QString ownerName(const CatalogueFile &file);

private:
    QList<CatalogueFile> select(const QString &condition, qint64 fileId = 0);

    std::unique_ptr<Session> m_session;
};
