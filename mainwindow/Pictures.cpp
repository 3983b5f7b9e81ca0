#include "Pictures.h"

#include <QPainter>
#include <QPixmap>

namespace Pictures {
namespace {

struct Look
{
    const char *themeName;
    QColor colour;
    QString mark;
};

Look lookOf(Picture which)
{
    switch (which) {
    case FolderPanelHidden:
        return {"folder", QColor(214, 170, 60), QStringLiteral("▸")};
    case Search:
        return {"edit-find", QColor(70, 120, 190), QStringLiteral("?")};
    case Options:
        return {"preferences-system", QColor(110, 110, 120), QStringLiteral("⚙")};
    case About:
        return {"help-about", QColor(60, 140, 90), QStringLiteral("i")};
    case Exit:
        return {"application-exit", QColor(190, 60, 60), QStringLiteral("×")};
    case FolderPanelShown:
        return {"folder-open", QColor(214, 170, 60), QStringLiteral("◂")};
    case AddFolder:
        return {"list-add", QColor(60, 140, 90), QStringLiteral("+")};
    case DeleteFolder:
        return {"list-remove", QColor(190, 60, 60), QStringLiteral("−")};
    case Envelope:
        return {"mail-send", QColor(70, 120, 190), QStringLiteral("✉")};
    case Globe:
        return {"web-browser", QColor(60, 140, 190), QStringLiteral("@")};
    case FirmTypes:
        return {"folder", QColor(214, 170, 60), QStringLiteral("▤")};
    case OpenFirm:
        return {"document-open", QColor(110, 110, 160), QStringLiteral("☞")};
    }
    return {"", QColor(), QString()};
}

// A rounded tile with a sign: clear at 16 and at 32 pixels.
QIcon drawn(const Look &look)
{
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(look.colour);
        painter.setPen(look.colour.darker(140));
        painter.drawRoundedRect(QRectF(1, 1, size - 2, size - 2), size / 5.0, size / 5.0);
        QFont font = painter.font();
        font.setPixelSize(size * 2 / 3);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(pixmap.rect(), Qt::AlignCenter, look.mark);
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

QIcon picture(Picture which)
{
    const Look look = lookOf(which);
    const QIcon themed = QIcon::fromTheme(QString::fromLatin1(look.themeName));
    return themed.isNull() ? drawn(look) : themed;
}

} // namespace Pictures
