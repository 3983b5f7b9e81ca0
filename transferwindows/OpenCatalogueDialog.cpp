#include "OpenCatalogueDialog.h"

#include "CatalogueLocation.h"
#include "Dialogs.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <tuple>

namespace {

std::function<bool(OpenCatalogueDialog &)> &dialogRunner()
{
    static std::function<bool(OpenCatalogueDialog &)> runner = [](OpenCatalogueDialog &dialog) {
        return dialog.exec() == QDialog::Accepted;
    };
    return runner;
}

template <typename Widget> Widget *named(Widget *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// A field's row: the field stretched, its button beside it, indented under
// the choice it belongs to.
QWidget *fieldRow(QLineEdit *field, QPushButton *button)
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(20, 0, 0, 0);
    layout->addWidget(field, 1);
    layout->addWidget(button);
    return row;
}

} // namespace

OpenCatalogueDialog::OpenCatalogueDialog(QWidget *parent, const QString &current, Probe probe)
    : QDialog(parent), m_probe(std::move(probe))
{
    setObjectName(QStringLiteral("OpenCatalogueDialog"));
    setWindowTitle(QStringLiteral("Открыть каталог"));
    auto *layout = new QVBoxLayout(this);
    addKinds(layout);
    // The two choices sit in rows of their own, so they are made one group.
    auto *kinds = new QButtonGroup(this);
    kinds->addButton(rbFolder);
    kinds->addButton(rbServer);

    lstRecent = new QListWidget(this);
    lstRecent->setObjectName(QStringLiteral("lstRecent"));
    auto *recentLabel = new QLabel(QStringLiteral("&Недавние каталоги:"), this);
    recentLabel->setBuddy(lstRecent);
    layout->addWidget(recentLabel);
    layout->addWidget(lstRecent, 1);
    connect(lstRecent, &QListWidget::currentItemChanged, this,
            [this](QListWidgetItem *item) { recentChosen(item); });
    connect(lstRecent, &QListWidget::itemActivated, this, [this] { accept(); });

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *openButton =
        buttons->addButton(QStringLiteral("&Открыть"), QDialogButtonBox::AcceptRole);
    openButton->setObjectName(QStringLiteral("bOpen"));
    openButton->setDefault(true);
    buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("bCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &OpenCatalogueDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &OpenCatalogueDialog::reject);
    layout->addWidget(buttons);

    setLocation(current);
    fillRecent(current);
    resize(560, 380);
    // Typing starts in the field of the catalogue open now.
    (rbServer->isChecked() ? edServer : edFolder)->setFocus();
}

void OpenCatalogueDialog::addKinds(QVBoxLayout *layout)
{
    rbFolder =
        named(new QRadioButton(QStringLiteral("&Папка на этом компьютере:"), this), "rbFolder");
    edFolder = named(new QLineEdit(this), "edFolder");
    edFolder->setAccessibleName(QStringLiteral("Папка на этом компьютере"));
    bBrowse = named(new QPushButton(QStringLiteral("О&бзор..."), this), "bBrowse");
    rbServer =
        named(new QRadioButton(QStringLiteral("&Сервер PostgreSQL, адрес:"), this), "rbServer");
    edServer = named(new QLineEdit(this), "edServer");
    edServer->setAccessibleName(QStringLiteral("Адрес сервера PostgreSQL"));
    edServer->setPlaceholderText(QStringLiteral("postgresql://сервер/база?sslmode=verify-full"));
    bTest = named(new QPushButton(QStringLiteral("Про&верить соединение"), this), "bTest");
    lblTest = named(new QLabel(this), "lblTest");
    lblTest->setWordWrap(true);
    lblTest->setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (const auto &[choice, field, button] :
         {std::tuple{rbFolder, edFolder, bBrowse}, std::tuple{rbServer, edServer, bTest}}) {
        layout->addWidget(choice);
        layout->addWidget(fieldRow(field, button));
    }
    layout->addWidget(lblTest);

    connect(rbFolder, &QRadioButton::toggled, this, [this] { kindChanged(); });
    connect(edFolder, &QLineEdit::textEdited, this, [this] { rbFolder->setChecked(true); });
    connect(bBrowse, &QPushButton::clicked, this, [this] { bBrowseClick(); });
    connect(edServer, &QLineEdit::textEdited, this, [this] {
        rbServer->setChecked(true);
        lblTest->clear();
    });
    connect(bTest, &QPushButton::clicked, this, [this] { bTestClick(); });
}

void OpenCatalogueDialog::fillRecent(const QString &current)
{
    const QString shown = CatalogueLocation::withoutPassword(current);
    for (const QString &location : CatalogueLocation::recent()) {
        auto *item = new QListWidgetItem(location, lstRecent);
        item->setData(Qt::UserRole, location);
        item->setToolTip(CatalogueLocation::described(location));
        if (location == shown)
            item->setText(location + QStringLiteral("  (открыт)"));
    }
}

void OpenCatalogueDialog::recentChosen(QListWidgetItem *item)
{
    if (item)
        setLocation(item->data(Qt::UserRole).toString());
}

void OpenCatalogueDialog::setLocation(const QString &location)
{
    const bool server = CatalogueLocation::isServer(location);
    (server ? edServer : edFolder)->setText(CatalogueLocation::withoutPassword(location));
    (server ? rbServer : rbFolder)->setChecked(true);
    lblTest->clear();
    kindChanged();
}

void OpenCatalogueDialog::kindChanged()
{
    bTest->setEnabled(rbServer->isChecked());
}

QString OpenCatalogueDialog::location() const
{
    if (rbFolder->isChecked())
        return CatalogueLocation::fromUserText(edFolder->text());
    const QString typed = CatalogueLocation::fromUserText(edServer->text());
    return CatalogueLocation::withoutPassword(m_tested) == typed ? m_tested : typed;
}

void OpenCatalogueDialog::bBrowseClick()
{
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Папка каталога"), edFolder->text(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    edFolder->setText(QDir::toNativeSeparators(folder));
    rbFolder->setChecked(true);
}

void OpenCatalogueDialog::bTestClick()
{
    QString tested = CatalogueLocation::fromUserText(edServer->text());
    if (!CatalogueLocation::isServer(tested)) {
        lblTest->setText(QStringLiteral("Адрес сервера начинается с postgresql://"));
        return;
    }
    lblTest->setText(QStringLiteral("Соединение..."));
    lblTest->repaint();
    const QString cause = m_probe(tested);
    m_tested = tested;
    lblTest->setText(cause.isEmpty() ? QStringLiteral("Соединение установлено.") : cause);
}

void OpenCatalogueDialog::accept()
{
    const QString chosen = location();
    if (chosen.isEmpty()) {
        Dialogs::inform(this, rbFolder->isChecked() ? QStringLiteral("Укажите папку каталога.")
                                                    : QStringLiteral("Укажите адрес сервера."));
        return;
    }
    if (rbServer->isChecked() && !CatalogueLocation::isServer(chosen)) {
        Dialogs::inform(this, QStringLiteral("Адрес сервера начинается с postgresql:// , "
                                             "например postgresql://сервер/база"));
        return;
    }
    QDialog::accept();
}

bool runOpenCatalogueDialog(OpenCatalogueDialog &dialog)
{
    return dialogRunner()(dialog);
}

void setOpenCatalogueRunner(std::function<bool(OpenCatalogueDialog &)> runner)
{
    dialogRunner() = std::move(runner);
}
