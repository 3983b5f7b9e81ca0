#include "FilesPanel.h"

#include "Application.h"
#include "ClassesRoot.h"
#include "DBGrid.h"
#include "DataSet.h"
#include "DataSource.h"
#include "Dialogs.h"
#include "FileError.h"
#include "FileIcons.h"
#include "SPacker.h"
#include "ShellHelpers.h"
#include "TempFiles.h"
#include "UData.h"

#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <QVBoxLayout>
#include <algorithm>
#include <stdexcept>

namespace {

const QString unknownTypeMessage =
    QStringLiteral("Нейзвестный тип файла! Необходимо установить необходимое приложение или "
                   "зарегистрировать тип файла");
const QString programFailedMessage = QStringLiteral("что-то не нормально");

// Files smaller than this pack or unpack in well under a tenth of a second:
// a progress window would only flash.
constexpr qint64 progressThreshold = 4 * 1024 * 1024;
// How often the progress window is repainted while the packer runs: often
// enough that the window never looks frozen, seldom enough to cost nothing.
constexpr int repaintInterval = 50;
// Written at a time to the temporary copy: about 20 ms of disk work.
constexpr qsizetype writeChunk = 4 * 1024 * 1024;

// A refusal the user is told about in a message box; nothing has been changed.
class Refusal : public std::runtime_error
{
public:
    explicit Refusal(const QString &message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

void refusing(QWidget *parent, const std::function<void()> &action)
{
    try {
        action();
    } catch (const Refusal &refusal) {
        Dialogs::inform(parent, refusal.message());
    }
}

bool hasControlCharacters(const QString &text)
{
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.category() == QChar::Other_Control; });
}

// One argument of a command line, quoted so that blanks, quotes and dollar
// signs in a file name stay part of it.
QString quotedArgument(QString argument)
{
    return QLatin1Char('\'') + argument.replace(QLatin1Char('\''), QStringLiteral("'\\''")) +
           QLatin1Char('\'');
}

// The open command of a type with the file put in: the first "%1" becomes the
// file, or the file is added as the last argument. The command is split into
// its arguments first, so the file name always stays one argument, whatever
// blanks or quotes it holds. An empty text when the command does not parse.
QString commandWithFile(const QString &command, const QString &path)
{
    std::optional<QStringList> arguments = splitCommandLine(command);
    if (!arguments || arguments->isEmpty())
        return {};
    const auto placeholder = std::find_if(arguments->begin(), arguments->end(),
                                          [](const QString &a) { return a.contains("%1"); });
    if (placeholder == arguments->end())
        arguments->append(path);
    else
        placeholder->replace(placeholder->indexOf("%1"), 2, path);
    QStringList quoted;
    for (const QString &argument : std::as_const(*arguments))
        quoted << quotedArgument(argument);
    return quoted.join(QLatin1Char(' '));
}

QString folderOf(const QString &path)
{
    return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

FilesPanel::FilesPanel(const FilesOwner &owner, const ClassesRoot &classesRoot, QWidget *parent)
    : QWidget(parent), m_owner(owner), m_classesRoot(classesRoot), Packer(new TStreamPacker(this)),
      UnPacker(new TStreamPacker(this))
{
    Packer->Action = aCompress;
    Packer->Method = clMax;
    UnPacker->Action = aDecompress;
    UnPacker->Method = clNone;

    label = new QLabel(QStringLiteral("Файлы"), this);
    label->setObjectName(QStringLiteral("Label10"));
    DBGrid1 = new DBGrid(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setAccessibleName(QStringLiteral("Файлы"));
    DBGrid1->setDataSource(owner.files);
    DBGrid1->setTitlesVisible(false);
    GridColumn hiddenName{QStringLiteral("FileName"), QString(), 64};
    hiddenName.visible = false;
    DBGrid1->setColumns(
        {{QString(), QString(), 20}, {QStringLiteral("Description"), QString(), 260}, hiddenName});
    label->setBuddy(DBGrid1);

    cmdAdd = new QPushButton(QStringLiteral("Добавить"), this);
    cmdAdd->setObjectName(QStringLiteral("cmdAdd"));
    cmdChange = new QPushButton(QStringLiteral("Заменить"), this);
    cmdChange->setObjectName(QStringLiteral("cmdChange"));
    cmdDelete = new QPushButton(QStringLiteral("Удалить"), this);
    cmdDelete->setObjectName(QStringLiteral("cmdDelete"));

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(label, 0, 0);
    grid->addWidget(DBGrid1, 1, 0);
    auto *buttons = new QVBoxLayout;
    for (QPushButton *button : {cmdAdd, cmdChange, cmdDelete})
        buttons->addWidget(button);
    buttons->addStretch();
    grid->addLayout(buttons, 1, 1);
    grid->setRowStretch(1, 1);
    grid->setColumnStretch(0, 1);

    const auto guardedClick = [this](QPushButton *button, void (FilesPanel::*handler)()) {
        connect(button, &QPushButton::clicked, this,
                [this, handler] { Application::guarded([&] { (this->*handler)(); }); });
    };
    guardedClick(cmdAdd, &FilesPanel::cmdAddClick);
    guardedClick(cmdChange, &FilesPanel::cmdChangeClick);
    guardedClick(cmdDelete, &FilesPanel::cmdDeleteClick);
    connect(DBGrid1, &DBGrid::dblClicked, this, &FilesPanel::DBGrid1DblClick);
    connect(DBGrid1, &DBGrid::keyDown, this,
            [this](int key, Qt::KeyboardModifiers modifiers, const QString &) {
                if (key != Qt::Key_Return && key != Qt::Key_Enter)
                    return;
                // Ctrl+Enter opens the file as a double click does, for
                // those who work from the keyboard alone.
                if (modifiers.testFlag(Qt::ControlModifier))
                    DBGrid1DblClick();
                else
                    postPending();
            });
    DBGrid1->setAccessibleDescription(QStringLiteral("Ctrl+Enter открывает файл"));
    connect(DBGrid1, &DBGrid::exited, this,
            [this] { Application::guarded([this] { postPending(); }); });
    connect(DBGrid1, &DBGrid::drawColumnCell, this, &FilesPanel::DBGrid1DrawColumnCell);
}

FilesPanel::~FilesPanel() = default;

DataSet &FilesPanel::files() const
{
    return *m_owner.files->dataSet();
}

void FilesPanel::postPending()
{
    const DataSetState state = files().state();
    if (state == DataSetState::Edit || state == DataSetState::Insert)
        files().post();
}

// Shows the open dialog in the folder of the file chosen last (in either
// editor); the chosen path, or an empty text when the user cancelled.
QString FilesPanel::chooseFile()
{
    const QString path =
        Dialogs::openFileName(this, QStringLiteral("Выберите файл"), dm->LastFileDir);
    if (!path.isEmpty())
        dm->LastFileDir = folderOf(path);
    return path;
}

QByteArray FilesPanel::packFile(const QString &path)
{
    const QFileInfo info(path);
    if (hasControlCharacters(info.fileName()))
        throw Refusal(QStringLiteral("Имя файла \"%1\" содержит управляющие символы. "
                                     "Переименуйте файл и выберите его снова.")
                          .arg(info.fileName().simplified()));
    if (info.isDir() || !info.exists())
        throw Refusal(QStringLiteral("Файл \"%1\" не найден.").arg(path));
    if (info.size() > MaxStreamSize)
        throw Refusal(QStringLiteral("Файл \"%1\" больше 2 147 483 647 байт: такой файл нельзя "
                                     "сохранить в базе.")
                          .arg(path));
    try {
        Packer->InputStream()->LoadFromFile(path);
    } catch (const FileError &) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        throw Refusal(cannotRead(path, file.errorString()));
    }
    keepWindowAlive();
    return runPacker(Packer, QStringLiteral("Сжатие файла..."));
}

QByteArray FilesPanel::unpack(const QByteArray &blob)
{
    UnPacker->InputStream()->Clear();
    UnPacker->InputStream()->write(blob);
    return runPacker(UnPacker, QStringLiteral("Распаковка файла..."));
}

// Runs a packer over its input and hands back the result; both streams are
// empty afterwards, whatever happened. Faulty packed data keeps the packer's
// own "error"; sizes past the limit and temporary-file failures are told in
// words.
QByteArray FilesPanel::runPacker(TStreamPacker *packer, const QString &what)
{
    const auto emptyStreams = qScopeGuard([packer, this] {
        packer->InputStream()->Clear();
        packer->OutputStream()->Clear();
        packer->OnChangeProgress = {};
        delete m_progress;
        m_progress = nullptr;
    });
    if (packer->InputStream()->size() >= progressThreshold) {
        m_progress = new QProgressDialog(what, QString(), 0, 100, this);
        m_progress->setObjectName(QStringLiteral("packProgress"));
        m_progress->setWindowTitle(window()->windowTitle());
        m_progress->setMinimumDuration(0);
        m_progress->show();
        m_sinceRepaint.start();
        packer->OnChangeProgress = [this, packer](QObject *) { showProgress(packer); };
    }
    try {
        packer->Execute();
    } catch (const EZlibError &e) {
        if (e.message() == QLatin1String("error"))
            throw;
        throw Refusal(QStringLiteral("Файл больше 2 147 483 647 байт: с ним нельзя работать."));
    } catch (const FileError &e) {
        throw Refusal(QStringLiteral("Не удаётся записать временный файл: ") + e.message());
    }
    return packer->OutputStream()->data();
}

// Paints what is waiting to be painted; the user's input waits, as nothing
// may change the row being worked on.
void FilesPanel::keepWindowAlive()
{
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// The progress window is repainted now and then while the packer runs; the
// user's input waits, as nothing may change the row being written.
void FilesPanel::showProgress(TStreamPacker *packer)
{
    if (!m_progress || m_sinceRepaint.elapsed() < repaintInterval)
        return;
    m_progress->setValue(packer->Progress);
    keepWindowAlive();
    m_sinceRepaint.restart();
}

void FilesPanel::cmdAddClick()
{
    refusing(this, [this] {
        const QString path = chooseFile();
        if (path.isEmpty())
            return;
        const QByteArray packed = packFile(path);
        DataSet &rows = files();
        // The data module refuses every other insert into the files queries.
        QScopedValueRollback allowed(dm->FileAppendAllowed, true);
        rows.append();
        try {
            rows.fieldByName(m_owner.keyField)
                ->setValue(m_owner.record->fieldByName(m_owner.keyField)->value());
            rows.fieldByName(QStringLiteral("FileName"))->setAsString(shortFileName(path));
            rows.fieldByName(QStringLiteral("Description"))
                ->setAsString(QFileInfo(path).fileName());
            rows.fieldByName(QStringLiteral("File"))->setBytes(packed);
            rows.post();
        } catch (...) {
            rows.cancel();
            throw;
        }
    });
}

void FilesPanel::cmdChangeClick()
{
    refusing(this, [this] {
        // With no rows there is nothing to replace.
        if (files().isEmpty())
            return;
        const QString path = chooseFile();
        if (path.isEmpty())
            return;
        const QByteArray packed = packFile(path);
        DataSet &rows = files();
        if (rows.state() == DataSetState::Browse)
            rows.edit();
        rows.fieldByName(QStringLiteral("FileName"))->setAsString(shortFileName(path));
        rows.fieldByName(QStringLiteral("File"))->setBytes(packed);
        Application::postSettled(rows);
    });
}

void FilesPanel::cmdDeleteClick()
{
    DataSet &rows = files();
    // With no rows there is nothing to ask about.
    if (rows.isEmpty())
        return;
    const QString description = rows.fieldByName(QStringLiteral("Description"))->asString();
    if (Dialogs::confirm(this, QStringLiteral("Удалить '") + description + QStringLiteral("' ?")))
        rows.deleteRecord();
}

void FilesPanel::DBGrid1DblClick()
{
    refusing(this, [this] {
        DataSet &rows = files();
        if (rows.isEmpty() || rows.fieldByName(QStringLiteral("File"))->isNull())
            return;
        const QString fileName = rows.fieldByName(QStringLiteral("FileName"))->asString();
        const QString extension = fileExtension(fileName);
        const QString type =
            extension.isEmpty() ? QString() : m_classesRoot.readDefaultOrEmpty(extension);
        if (type.isEmpty())
            throw Refusal(unknownTypeMessage);
        const QByteArray packed = rows.fieldByName(QStringLiteral("File"))->asBytes();
        keepWindowAlive();
        const QByteArray bytes = unpack(packed);
        keepWindowAlive();
        // The copy lives in a folder of its own, removed with it on every path.
        const PrivateTempDir folder;
        const QString path = folder.filePath(fileName);
        writeCopy(path, bytes);
        const QString command =
            m_classesRoot.readDefaultOrEmpty(type + QStringLiteral("\\shell\\open\\command"));
        if (!RunAndWait(commandWithFile(command, path)))
            throw Refusal(programFailedMessage);
        if (Dialogs::confirm(this, QStringLiteral("Обновить файл в базе")))
            storeBack(path);
    });
}

// Writes the unpacked file a few megabytes at a time, letting the window
// repaint in between: a large file would otherwise freeze it for a while.
void FilesPanel::writeCopy(const QString &path, const QByteArray &bytes)
{
    QFile copy(path);
    bool written = copy.open(QIODevice::WriteOnly);
    for (qsizetype start = 0; written && start < bytes.size(); start += writeChunk) {
        const qsizetype size = std::min(writeChunk, bytes.size() - start);
        written = copy.write(bytes.constData() + start, size) == size;
        keepWindowAlive();
    }
    if (!written)
        throw Refusal(QStringLiteral("Не удаётся записать временный файл \"%1\": %2")
                          .arg(path, copy.errorString()));
}

// The file as the program left it goes back into the current row; its names
// stay as they are.
void FilesPanel::storeBack(const QString &path)
{
    const QByteArray packed = packFile(path);
    DataSet &rows = files();
    if (rows.state() == DataSetState::Browse)
        rows.edit();
    rows.fieldByName(QStringLiteral("File"))->setBytes(packed);
    Application::postSettled(rows);
}

void FilesPanel::DBGrid1DrawColumnCell(QPainter *painter, const QRect &rect, int row, int column)
{
    const DataSet *rows = DBGrid1->dataSet();
    if (column != 0 || !rows || !rows->active())
        return;
    const QString name =
        rows->displayValue(row, rows->fieldByName(QStringLiteral("FileName"))).toString();
    if (name.isEmpty())
        return;
    const QPixmap icon = FileTypeIcon(name, m_classesRoot);
    if (!icon.isNull())
        painter->drawPixmap(rect.topLeft(), icon);
}
