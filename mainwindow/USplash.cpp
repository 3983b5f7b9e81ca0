#include "USplash.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TSplashForm *SplashForm = nullptr;

namespace {

// The program's picture: an open catalogue with a quill, drawn rather than
// shipped so that it scales and needs no file.
QPixmap catalogueArt(QSize size)
{
    QPixmap pixmap(size);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor(126, 170, 214));
    sky.setColorAt(1, QColor(40, 80, 140));
    painter.fillRect(pixmap.rect(), sky);
    const QRectF book(18, 40, size.width() - 36, size.height() - 70);
    painter.setPen(QPen(QColor(30, 40, 60), 2));
    painter.setBrush(QColor(250, 248, 236));
    painter.drawRect(book.adjusted(0, 0, -book.width() / 2, 0));
    painter.drawRect(book.adjusted(book.width() / 2, 0, 0, 0));
    painter.setPen(QPen(QColor(120, 120, 140), 1));
    for (int i = 1; i < 6; ++i) {
        const qreal y = book.top() + i * book.height() / 7;
        painter.drawLine(QPointF(book.left() + 8, y), QPointF(book.center().x() - 8, y));
        painter.drawLine(QPointF(book.center().x() + 8, y), QPointF(book.right() - 8, y));
    }
    QPainterPath quill;
    quill.moveTo(size.width() - 30, 12);
    quill.cubicTo(size.width() - 70, 30, size.width() - 80, 70, size.width() - 60, 100);
    quill.cubicTo(size.width() - 50, 70, size.width() - 40, 40, size.width() - 30, 12);
    painter.setPen(QPen(QColor(60, 40, 20), 1.5));
    painter.setBrush(QColor(255, 255, 255, 230));
    painter.drawPath(quill);
    return pixmap;
}

QLabel *centred(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

TSplashForm::TSplashForm(QWidget *owner) : QDialog(owner, Qt::FramelessWindowHint | Qt::Dialog)
{
    setObjectName(QStringLiteral("SplashForm"));
    setFixedSize(401, 159);
    setFont(QFont(QStringLiteral("Arial"), 9));
    auto *panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel2"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(panel);

    auto *row = new QHBoxLayout(panel);
    row->setContentsMargins(3, 10, 10, 10);
    row->addWidget(makePicture());
    auto *column = new QVBoxLayout;
    row->addLayout(column, 1);

    auto *title = centred(QStringLiteral("Квиллон"), panel);
    title->setObjectName(QStringLiteral("RxLabel1"));
    QFont titleFont(QStringLiteral("Arial"), 20, QFont::Bold);
    title->setFont(titleFont);
    auto *version = centred(QStringLiteral("Версия 1.2"), panel);
    version->setObjectName(QStringLiteral("Label1"));
    lblInit = centred(QStringLiteral("Загрузка"), panel);
    lblInit->setObjectName(QStringLiteral("lblInit"));
    lblTable = centred(QStringLiteral(" "), panel);
    lblTable->setObjectName(QStringLiteral("lblTable"));
    Progress = new QProgressBar(panel);
    Progress->setObjectName(QStringLiteral("Progress"));
    Progress->setRange(0, 100);
    Progress->setTextVisible(false);
    Progress->setFixedHeight(10);
    Progress->hide();
    Button1 = new QPushButton(QStringLiteral("Ok"), panel);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->hide();
    connect(Button1, &QPushButton::clicked, this, &QDialog::reject);

    for (QWidget *w : {static_cast<QWidget *>(title), static_cast<QWidget *>(version),
                       static_cast<QWidget *>(lblInit), static_cast<QWidget *>(lblTable),
                       static_cast<QWidget *>(Progress)})
        column->addWidget(w);
    column->addWidget(Button1, 0, Qt::AlignHCenter);
    column->addStretch();

    if (const QScreen *screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

QWidget *TSplashForm::makePicture()
{
    auto *image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setFixedSize(153, 139);
    image->setPixmap(catalogueArt(image->size()));
    return image;
}
