#include "TransferMenu.h"

#include "Application.h"
#include "AutoBackup.h"
#include "BaseMaker.h"
#include "CatalogueChoice.h"
#include "Dialogs.h"
#include "Export.h"
#include "FileError.h"
#include "FileIndexer.h"
#include "ImportDialog.h"
#include "ProgressWindow.h"
#include "Restore.h"
#include "Session.h"
#include "Sheets.h"
#include "TempFiles.h"
#include "UData.h"
#include "UMain.h"

#include <QAction>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QSaveFile>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

namespace {

const QString descriptionName = QStringLiteral("base.ini");
const QString archiveFilter = QStringLiteral("Резервные копии (*.zip)");

// How the import window is shown: modal, unless a test says otherwise.
std::function<bool(ImportDialog &)> &importDialogRunner()
{
    static std::function<bool(ImportDialog &)> runner = [](ImportDialog &dialog) {
        return dialog.exec() == QDialog::Accepted;
    };
    return runner;
}

QString dataDirectory()
{
    return dm->Main_sess()->location();
}

} // namespace

TransferMenu::TransferMenu(TMainForm *window, QToolBar *bar)
    : QObject(window), m_window(window), m_menu(new QMenu(window))
{
    setObjectName(QStringLiteral("TransferMenu"));
    m_menu->setObjectName(QStringLiteral("TransferMenuItems"));
    addCommand("acOpenCatalogue", QStringLiteral("&Открыть каталог..."),
               &TransferMenu::openCatalogueClick);
    auto *recent = m_menu->addMenu(QStringLiteral("&Недавние каталоги"));
    recent->setObjectName(QStringLiteral("RecentCatalogues"));
    connect(recent, &QMenu::aboutToShow, this,
            [this, recent] { CatalogueChoice::fillRecentMenu(recent, m_window); });
    m_menu->addSeparator();
    addCommand("acBackup", QStringLiteral("&Резервная копия..."), &TransferMenu::backupClick);
    addCommand("acRestore", QStringLiteral("&Восстановить из копии..."),
               &TransferMenu::restoreClick);
    m_menu->addSeparator();
    addCommand("acExportShown", QStringLiteral("&Экспорт списка, как показан..."),
               &TransferMenu::exportShownClick);
    addCommand("acExportWhole", QStringLiteral("Экспорт всех &записей..."),
               &TransferMenu::exportWholeClick);
    addCommand("acVCard", QStringLiteral("&Карточка фирмы (vCard)..."), &TransferMenu::vCardClick);
    m_menu->addSeparator();
    addCommand("acImport", QStringLiteral("&Импорт из таблицы (CSV, XLSX, XLS, ODS)..."),
               &TransferMenu::importClick);
    // A catalogue this desk may only read offers nothing that would change it.
    connect(m_menu, &QMenu::aboutToShow, this, [this] {
        const bool writable = dm->Main_sess() && !dm->Main_sess()->isReadOnly();
        for (const char *changing : {"acRestore", "acImport"})
            m_menu->findChild<QAction *>(QString::fromLatin1(changing))->setEnabled(writable);
    });

    auto *open = new QAction(QStringLiteral("Копии и обмен данными"), window);
    open->setObjectName(QStringLiteral("acTransfer"));
    open->setToolTip(QStringLiteral("Резервные копии, экспорт и импорт (F10)"));
    open->setIcon(QIcon::fromTheme(QStringLiteral("document-save"),
                                   window->style()->standardIcon(QStyle::SP_DialogSaveButton)));
    open->setMenu(m_menu);
    bar->addAction(open);
    m_button = qobject_cast<QToolButton *>(bar->widgetForAction(open));
    m_button->setObjectName(QStringLiteral("ToolButtonTransfer"));
    m_button->setPopupMode(QToolButton::InstantPopup);
    m_button->setAccessibleName(QStringLiteral("Копии и обмен данными"));

    // The toolbar takes no keyboard focus: F10 opens the menu under its button.
    auto *key = new QAction(window);
    key->setShortcut(Qt::Key_F10);
    key->setShortcutContext(Qt::WindowShortcut);
    connect(key, &QAction::triggered, this, [this] { m_button->showMenu(); });
    window->addAction(key);
}

void TransferMenu::addCommand(const char *name, const QString &text,
                              void (TransferMenu::*handler)())
{
    QAction *action = m_menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this,
            [this, handler] { Application::guarded([this, handler] { (this->*handler)(); }); });
}

void TransferMenu::openCatalogueClick()
{
    CatalogueChoice::openFromDialog(m_window);
}

void TransferMenu::backupClick()
{
    const QString proposed =
        QDir(dm->LastFileDir)
            .absoluteFilePath(Backup::proposedName(QDate::currentDate().toString(Qt::ISODate)));
    const QString path =
        Dialogs::saveFileName(m_window, QStringLiteral("Резервная копия"), proposed, archiveFilter);
    if (path.isEmpty())
        return;
    {
        // The progress window is gone before the message comes up.
        ProgressWindow progress(m_window, QStringLiteral("Резервное копирование..."));
        Backup::create(dataDirectory(), Backup::catalogueTables(descriptionName), descriptionName,
                       path, [&progress](double done) { progress.show(done); });
    }
    dm->LastFileDir = QFileInfo(path).absolutePath();
    Dialogs::inform(m_window, QStringLiteral("Резервная копия записана в файл ") +
                                  QDir::toNativeSeparators(path));
}

void TransferMenu::restoreClick()
{
    const QString path =
        Dialogs::openFileName(m_window, QStringLiteral("Восстановить из копии"), dm->LastFileDir);
    if (path.isEmpty())
        return;
    if (!Dialogs::confirm(m_window, QStringLiteral("Заменить каталог данными из копии «") +
                                        QFileInfo(path).fileName() +
                                        QStringLiteral("»?\nТекущий каталог будет сохранён.")))
        return;
    dm->closeDataSets();
    Restore::Outcome outcome;
    try {
        ProgressWindow progress(m_window, QStringLiteral("Проверка и восстановление копии..."));
        outcome = Restore::fromArchive(dataDirectory(), descriptionName, path,
                                       [&progress](double done) { progress.show(done); });
    } catch (...) {
        // Nothing was changed: the catalogue as it was comes back.
        reloadCatalogue();
        throw;
    }
    BaseMaker::VerifyBase(descriptionName, QStringLiteral("Quillon"), false, false, dm->ui());
    if (m_indexer)
        m_indexer->catalogueReplaced();
    reloadCatalogue();
    Dialogs::inform(m_window, Restore::describe(outcome));
}

bool TransferMenu::firmsShown() const
{
    return m_window->PageControl1->currentIndex() == 0;
}

void TransferMenu::exportShownClick()
{
    exportList(false);
}

void TransferMenu::exportWholeClick()
{
    exportList(true);
}

void TransferMenu::exportList(bool whole)
{
    const bool firms = firmsShown();
    const QString title = firms ? QStringLiteral("Фирмы") : QStringLiteral("Элементы");
    QString path = Dialogs::saveFileName(
        m_window, QStringLiteral("Экспорт: ") + title,
        QDir(dm->LastFileDir).absoluteFilePath(title + QStringLiteral(".csv")),
        QStringLiteral("Текст CSV (*.csv);;Книга Excel (*.xlsx)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    const Query &list = firms ? dm->qFirms : dm->qItems;
    int count = 0;
    {
        ProgressWindow progress(m_window, QStringLiteral("Экспорт..."));
        const double total = std::max(1, list.recordCount());
        count = Export::rows(*dm->Main_sess(), firms ? ListTarget::Firms : ListTarget::Items,
                             Export::selectFor(list.sql(), whole), path, Export::formatOf(path),
                             [&](int done) { progress.show(done / total); });
    }
    dm->LastFileDir = QFileInfo(path).absolutePath();
    Dialogs::inform(m_window, QStringLiteral("Выгружено записей: %1 в файл %2")
                                  .arg(count)
                                  .arg(QDir::toNativeSeparators(path)));
}

void TransferMenu::vCardClick()
{
    if (dm->qFirms.recordCount() == 0) {
        Dialogs::inform(m_window, QStringLiteral("В списке нет фирмы"));
        return;
    }
    const auto field = [](const QString &name) { return dm->qFirms.fieldByName(name)->asString(); };
    const QString path = Dialogs::saveFileName(
        m_window, QStringLiteral("Карточка фирмы"),
        QDir(dm->LastFileDir)
            .absoluteFilePath(safeFileName(field(QStringLiteral("Name"))) + QStringLiteral(".vcf")),
        QStringLiteral("Карточка vCard (*.vcf)"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw FileError(cannotCreate(path, file.errorString()));
    if (file.write(Export::vCard(field)) < 0 || !file.commit())
        throw FileError(QDir::toNativeSeparators(path) + QStringLiteral(": не удаётся записать (") +
                        file.errorString() + ')');
    dm->LastFileDir = QFileInfo(path).absolutePath();
}

void TransferMenu::importClick()
{
    const bool firms = firmsShown();
    const QString path = Dialogs::openFileName(
        m_window, firms ? QStringLiteral("Импорт фирм") : QStringLiteral("Импорт элементов"),
        dm->LastFileDir, Sheets::dialogFilter());
    if (path.isEmpty())
        return;
    dm->LastFileDir = QFileInfo(path).absolutePath();
    ImportDialog dialog(m_window, *dm->Main_sess(), Import::readFile(path),
                        firms ? Import::Target::Firms : Import::Target::Items, path);
    if (!importDialogRunner()(dialog))
        return;
    if (firms)
        dm->RebuildFirmQuery();
    else
        dm->RebuildItemQuery();
    Dialogs::inform(m_window,
                    QStringLiteral("Добавлено записей: %1, обновлено: %2")
                        .arg(dialog.plan().added)
                        .arg(dialog.options().updateExisting ? dialog.plan().existing : 0));
}

void TransferMenu::setFileIndexer(FileIndexer *indexer)
{
    if (!m_pauseIndexing)
        addIndexingCommands();
    // Connections to an indexer that goes end with it.
    if (m_indexer)
        disconnect(m_pauseIndexing, nullptr, m_indexer, nullptr);
    m_indexer = indexer;
    m_pauseIndexing->setEnabled(indexer != nullptr);
    if (!indexer)
        return;
    m_pauseIndexing->setChecked(indexer->isPaused());
    connect(m_pauseIndexing, &QAction::toggled, indexer, &FileIndexer::setPaused);
    connect(indexer, &FileIndexer::pausedChanged, m_pauseIndexing, &QAction::setChecked);
}

void TransferMenu::addIndexingCommands()
{
    m_menu->addSeparator();
    m_pauseIndexing = m_menu->addAction(QStringLiteral("&Приостановить индексацию файлов"));
    m_pauseIndexing->setObjectName(QStringLiteral("acPauseIndexing"));
    m_pauseIndexing->setCheckable(true);
    addCommand("acSkippedFiles", QStringLiteral("Непрочитанные &файлы..."),
               &TransferMenu::skippedFilesClick);
}

void TransferMenu::skippedFilesClick()
{
    // A box holds a screenful: the rest is counted.
    constexpr qsizetype shownAtMost = 30;
    if (!m_indexer)
        return;
    const QList<IndexedFile> skipped = m_indexer->skippedFiles();
    if (skipped.isEmpty()) {
        Dialogs::inform(m_window, QStringLiteral("Текст всех прикреплённых файлов прочитан"));
        return;
    }
    CatalogueFiles catalogue(dataDirectory());
    QStringList lines;
    for (const IndexedFile &file : skipped.mid(0, shownAtMost))
        lines << QStringLiteral("«%1» (%2): %3")
                     .arg(file.file.description, catalogue.ownerName(file.file), file.reason);
    if (skipped.size() > shownAtMost)
        lines << QStringLiteral("и ещё %1").arg(skipped.size() - shownAtMost);
    Dialogs::inform(m_window, QStringLiteral("Поиск в файлах не найдёт слов этих файлов: их "
                                             "текст не прочитан.\n\n") +
                                  lines.join(u'\n'));
}

// The lists, trees and their conditions start afresh: the keys of the old
// catalogue mean nothing in the restored one.
void TransferMenu::reloadCatalogue()
{
    dm->FolderFirmFilter.clear();
    dm->FolderItemFilter.clear();
    dm->GroupFirmFilter.clear();
    dm->GroupItemFilter.clear();
    dm->openDataSets();
    dm->RebuildFirmQuery();
    dm->RebuildItemQuery();
    m_window->FormCreate();
}

void setImportWindowRunner(std::function<bool(ImportDialog &)> runner)
{
    importDialogRunner() = std::move(runner);
}

void backupAtExit(QWidget *parent)
{
    if (!dm || !dm->Main_sess())
        return;
    try {
        const AutoBackup::Daily daily = AutoBackup::runDaily(
            dm->Main_sess()->location(), Backup::catalogueTables(descriptionName), descriptionName,
            AutoBackup::folder(), QDate::currentDate(), AutoBackup::keptSetting());
        if (!daily.warning.isEmpty())
            Dialogs::inform(parent, daily.warning);
    } catch (const std::exception &e) {
        Dialogs::inform(parent, QStringLiteral("Не удалось сделать резервную копию при выходе: ") +
                                    QString::fromUtf8(e.what()));
    }
}
