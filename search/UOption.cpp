#include "UOption.h"

#include "Application.h"
#include "BaseMaker.h"
#include "CheckReport.h"
#include "Dialogs.h"
#include "SettingsStore.h"
#include "UData.h"
#include "UFind.h"
#include "USplash.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <QScreen>

TfrmOption::TfrmOption(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmOption"));
    setWindowTitle(QStringLiteral("Настройки"));
    setFont(QFont(QStringLiteral("Arial"), 9));
    CheckBox1 = makeBox("CheckBox1", QStringLiteral("Проверять сруктуру таблиц при загрузке"));
    CheckBox2 = makeBox("CheckBox2", QStringLiteral("Сжимать таблицы при проверке"));
    CheckBox3 = makeBox("CheckBox3", QStringLiteral("Отображать с учетом текущей папки"));
    Button1 = makeButton("Button1", QStringLiteral("Ok"));
    Button2 = makeButton("Button2", QStringLiteral("Отмена"));
    Button3 = makeButton("Button3", QStringLiteral("Проверить"));
    Button4 = makeButton("Button4", QStringLiteral("Сжать"));

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->addWidget(CheckBox1, 0, 0);
    grid->addWidget(Button3, 0, 1);
    grid->addWidget(CheckBox2, 1, 0);
    grid->addWidget(Button4, 1, 1);
    grid->addWidget(CheckBox3, 2, 0);
    auto *bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(Button1);
    bottom->addWidget(Button2);
    grid->addLayout(bottom, 3, 0, 1, 2);
    grid->setRowStretch(3, 1);

    const QList<QWidget *> tabOrder = {Button1,   Button2, CheckBox1, Button3,
                                       CheckBox2, Button4, CheckBox3};
    for (int i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    connect(Button1, &QPushButton::clicked, this,
            [this] { Application::guarded([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, &TfrmOption::reject);
    connect(Button3, &QPushButton::clicked, this,
            [this] { Application::guarded([this] { Button3Click(); }); });
    connect(Button4, &QPushButton::clicked, this,
            [this] { Application::guarded([this] { Button4Click(); }); });

    setFixedSize(std::max(359, sizeHint().width()), std::max(137, sizeHint().height()));
    if (const QScreen *screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    FormCreate();
}

QCheckBox *TfrmOption::makeBox(const char *name, const QString &caption)
{
    auto *box = new QCheckBox(caption, this);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

QPushButton *TfrmOption::makeButton(const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, this);
    button->setObjectName(QString::fromLatin1(name));
    // Enter presses no button of this window: neither "Ok" nor "Отмена" is
    // its default.
    button->setAutoDefault(false);
    return button;
}

void TfrmOption::FormCreate()
{
    CheckBox1->setChecked(dm->CheckOnLoad);
    CheckBox2->setChecked(dm->PackOnCheck);
    CheckBox3->setChecked(dm->FolderFilter);
}

void TfrmOption::Button1Click()
{
    // All three are written, changed or not; they take effect at the next start.
    RegistryKey key;
    const QString section = QLatin1String(SettingsSection);
    const QList<std::pair<QString, QCheckBox *>> values = {
        {QStringLiteral("CheckOnLoad"), CheckBox1},
        {QStringLiteral("PackOnCheck"), CheckBox2},
        {QStringLiteral("FolderFilter"), CheckBox3}};
    for (const auto &[name, box] : values)
        key.writeString(section, name,
                        box->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    accept();
}

void TfrmOption::Button3Click()
{
    // The check packs each table too when the user asks for that in the box below.
    CheckBase(true, CheckBox2->isChecked());
}

void TfrmOption::Button4Click()
{
    CheckBase(false, true);
}

void TfrmOption::reject()
{
    // The window stays while a run is under way: it is the run's owner.
    if (!m_running)
        QDialog::reject();
}

void TfrmOption::keyPressEvent(QKeyEvent *event)
{
    // Esc is no "Отмена" here: the window has no cancel button.
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmOption::closeEvent(QCloseEvent *event)
{
    if (m_running)
        event->ignore();
    else
        QDialog::closeEvent(event);
}

namespace {

// A list and the key of the record it stands on, to stand on it again once
// the list is read anew.
struct Standing
{
    DataSet *list;
    QString keyField;
    QVariant key;
};

// The folder comes first: standing on it again limits the lists to it.
QList<Standing> whereTheListsStand()
{
    QList<Standing> standings = {{&dm->tblFolder, QStringLiteral("FolderID"), {}},
                                 {&dm->qFirms, QStringLiteral("FirmID"), {}},
                                 {&dm->qItems, QStringLiteral("ItemID"), {}}};
    for (Standing &standing : standings) {
        if (standing.list->active() && !standing.list->isEmpty())
            standing.key = standing.list->fieldByName(standing.keyField)->value();
    }
    return standings;
}

void standAgain(const QList<Standing> &standings)
{
    for (const Standing &standing : standings) {
        if (standing.key.isValid() && standing.list->active())
            standing.list->locate(standing.keyField, standing.key);
    }
}

} // namespace

void TfrmOption::CheckBase(bool check, bool pack)
{
    if (m_running)
        return;
    const QScopedValueRollback<bool> running(m_running, true);
    // The verifier lets pending events through after each table: nothing in
    // this window may start anything meanwhile.
    setEnabled(false);
    const auto enable = qScopeGuard([this] { setEnabled(true); });

    // The found rows are read by row id, which a pack may change: the search
    // result is read again afterwards rather than shown from stale ids.
    const bool findWasOpen = frmFind && frmFind->qFind.active();
    if (frmFind)
        frmFind->qFind.close();
    const QList<Standing> standings = whereTheListsStand();
    dm->closeDataSets();
    // A run that fails leaves every table as it was (a change is all or
    // nothing), so the lists open again on them as at start-up; the failure
    // is shown first.
    CheckReport report(dm->ui());
    const bool done = Application::guarded([&] { runVerifier(check, pack, report); });
    dm->openDataSets();
    standAgain(standings);
    if (findWasOpen)
        frmFind->qFind.open();
    if (done)
        Dialogs::inform(this, report.summary(check));
}

void TfrmOption::runVerifier(bool check, bool pack, StorageUi &ui)
{
    const QString directory = Tdm::ensureAlias();
    SplashForm->show();
    const auto hide = qScopeGuard([] { SplashForm->hide(); });
    if (!QFileInfo::exists(directory))
        QDir().mkdir(directory);
    SplashForm->lblInit->setText(QStringLiteral("Проверка данных"));
    SplashForm->Progress->setVisible(true);
    SplashForm->repaint();
    BaseMaker::VerifyBase(QStringLiteral("base.ini"), QStringLiteral("Quillon"), pack, !check, ui);
}
