#include "ImportDialog.h"

#include "EngineError.h"
#include "ProgressWindow.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

// Rows of the file shown in the preview: enough to recognise the columns.
constexpr int previewRows = 10;
// Refusals listed in the window; the rest are counted only.
constexpr int listedRefusals = 200;
// A header is shown up to this many characters: a file that is no table may
// hold a whole page in its "header", and the window must stay on the screen.
constexpr int shownHeaderLength = 40;
// Characters a column choice is wide enough for, whatever the headers hold.
constexpr int choiceWidth = 24;
// The light red of a row that will not be loaded.
const QColor refusedRow(255, 220, 220);

QString shortened(const QString &text)
{
    const QString line = text.simplified();
    return line.size() > shownHeaderLength ? line.left(shownHeaderLength - 1) + QChar(0x2026)
                                           : line;
}

QString columnTitle(const QStringList &header, int column)
{
    return QStringLiteral("%1: %2").arg(column + 1).arg(shortened(header[column]));
}

} // namespace

ImportDialog::ImportDialog(QWidget *parent, Session &session, TextTable table,
                           Import::Target target, const QString &fileName)
    : QDialog(parent), m_session(session), m_table(std::move(table)), m_target(target),
      m_known(Import::readKnown(session, target))
{
    for (const Import::TextField &field : m_known.fields)
        m_fields.append(field.name);
    m_fields.append(Columns::types);
    m_fields.append(Columns::folders);
    setObjectName(QStringLiteral("ImportDialog"));
    setWindowTitle((target == Import::Target::Firms ? QStringLiteral("Импорт фирм из ")
                                                    : QStringLiteral("Импорт элементов из ")) +
                   QFileInfo(fileName).fileName());
    // Everything but the buttons scrolls, so that on a small screen the
    // window shrinks and its buttons stay in view.
    auto *content = new QWidget;
    auto *contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    auto *top = new QHBoxLayout;
    top->addWidget(makeMapping());
    top->addWidget(makeDestination(), 1);
    contentLayout->addLayout(top);
    contentLayout->addWidget(makePreview(), 1);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("Summary"));
    m_summary->setWordWrap(true);
    contentLayout->addWidget(m_summary);
    m_refusals = new QPlainTextEdit(this);
    m_refusals->setObjectName(QStringLiteral("Refusals"));
    m_refusals->setReadOnly(true);
    m_refusals->setAccessibleName(QStringLiteral("Отклонённые строки"));
    m_refusals->setMaximumHeight(90);
    contentLayout->addWidget(m_refusals);
    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(content);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(scroll, 1);
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *load =
        buttons->addButton(QStringLiteral("&Загрузить"), QDialogButtonBox::AcceptRole);
    load->setObjectName(QStringLiteral("LoadButton"));
    load->setDefault(true);
    buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (runImport())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    fitScreen();
    replan();
}

// Whatever the file holds, the window and its buttons stay on the screen.
void ImportDialog::fitScreen()
{
    const QRect screen =
        (parentWidget() ? parentWidget()->screen() : this->screen())->availableGeometry();
    // Room for the window manager's frame around the window.
    const QSize most = screen.size() - QSize(40, 60);
    setMaximumSize(most);
    resize(QSize(820, 620).boundedTo(most));
}

void ImportDialog::addChoice(QFormLayout *form, const QString &label, QComboBox *box)
{
    auto *caption = new QLabel(label, this);
    caption->setBuddy(box);
    form->addRow(caption, box);
}

QWidget *ImportDialog::makeMapping()
{
    auto *group = new QGroupBox(QStringLiteral("Столбцы файла"), this);
    auto *form = new QFormLayout(group);
    const QMap<QString, int> guessed =
        Import::guessMapping(m_target, m_table.header, m_known.fields);
    for (const QString &field : m_fields) {
        auto *box = new QComboBox(group);
        box->setObjectName(QStringLiteral("column") + field.mid(field.startsWith('@') ? 1 : 0));
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(choiceWidth);
        box->addItem(QStringLiteral("— не загружать —"), -1);
        for (int column = 0; column < m_table.header.size(); ++column) {
            box->addItem(columnTitle(m_table.header, column), column);
            box->setItemData(column + 1, m_table.header[column], Qt::ToolTipRole);
        }
        box->setCurrentIndex(box->findData(guessed.value(field, -1)));
        m_columns.append(box);
        addChoice(form, '&' + Columns::caption(m_target, field) + ':', box);
        // The folder and group do not change the plan; the columns do.
        connect(box, &QComboBox::currentIndexChanged, this, [this] { replan(); });
    }
    return group;
}

QWidget *ImportDialog::makeDestination()
{
    auto *group = new QGroupBox(QStringLiteral("Куда загружать"), this);
    auto *form = new QFormLayout(group);
    m_folder = new QComboBox(group);
    m_folder->setObjectName(QStringLiteral("FolderChoice"));
    m_folder->addItem(QStringLiteral("— без папки —"), 0);
    for (const auto &[key, name] : Import::folders(m_session))
        m_folder->addItem(name, key);
    addChoice(form, QStringLiteral("&Папка новых записей:"), m_folder);
    m_group = new QComboBox(group);
    m_group->setObjectName(QStringLiteral("GroupChoice"));
    m_group->addItem(QStringLiteral("— без группы —"), 0);
    for (const auto &[key, name] : Import::groups(m_session, m_target))
        m_group->addItem(name, key);
    addChoice(form, QStringLiteral("&Группа новых записей:"), m_group);

    auto *skip = new QRadioButton(QStringLiteral("п&ропускать"), group);
    skip->setObjectName(QStringLiteral("SkipExisting"));
    skip->setChecked(true);
    auto *update = new QRadioButton(QStringLiteral("о&бновлять непустыми значениями"), group);
    update->setObjectName(QStringLiteral("UpdateExisting"));
    m_existing = new QButtonGroup(this);
    m_existing->addButton(skip, 0);
    m_existing->addButton(update, 1);
    connect(m_existing, &QButtonGroup::idClicked, this, [this] { replan(); });
    auto *choice = new QVBoxLayout;
    choice->addWidget(skip);
    choice->addWidget(update);
    form->addRow(new QLabel(QStringLiteral("Уже известные названия:"), group), choice);
    return group;
}

QWidget *ImportDialog::makePreview()
{
    const int rows = int(std::min<qsizetype>(previewRows, m_table.rows.size()));
    auto *grid = new QTableWidget(rows, int(m_table.header.size()), this);
    grid->setObjectName(QStringLiteral("PreviewGrid"));
    grid->setAccessibleName(QStringLiteral("Первые строки файла"));
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QStringList titles;
    for (int column = 0; column < m_table.header.size(); ++column)
        titles.append(columnTitle(m_table.header, column));
    grid->setHorizontalHeaderLabels(titles);
    grid->horizontalHeader()->setMaximumSectionSize(grid->fontMetrics().averageCharWidth() *
                                                    shownHeaderLength);
    // Rows are numbered as the file's lines, so that a refusal's "Строка N" is found here.
    QStringList lines;
    for (int row = 0; row < rows; ++row)
        lines.append(QString::number(m_table.lines.value(row, row + 2)));
    grid->setVerticalHeaderLabels(lines);
    for (int row = 0; row < rows; ++row) {
        const QString damage = m_table.damaged.value(row);
        for (int column = 0; column < grid->columnCount(); ++column) {
            auto *item = new QTableWidgetItem(shortened(m_table.rows[row].value(column)));
            item->setToolTip(damage.isEmpty() ? m_table.rows[row].value(column)
                                              : QStringLiteral("Не загружается: ") + damage);
            if (!damage.isEmpty())
                item->setBackground(refusedRow);
            grid->setItem(row, column, item);
        }
    }
    return grid;
}

Import::Options ImportDialog::options() const
{
    Import::Options options;
    options.target = m_target;
    for (int i = 0; i < m_fields.size(); ++i) {
        const int column = m_columns[i]->currentData().toInt();
        if (column >= 0)
            options.mapping.insert(m_fields[i], column);
    }
    options.folderId = m_folder->currentData().toInt();
    options.groupId = m_group->currentData().toInt();
    options.updateExisting = m_existing->checkedId() == 1;
    return options;
}

void ImportDialog::replan()
{
    if (!m_existing)
        return;
    const Import::Options chosen = options();
    m_plan = Import::plan(m_known, m_table, chosen);
    QString summary = QStringLiteral("Будет добавлено записей: %1\nУже есть в каталоге: %2 (%3)\n"
                                     "Слишком длинных значений, которые будут обрезаны: %4\n"
                                     "Отклонено строк: %5")
                          .arg(m_plan.added)
                          .arg(m_plan.existing)
                          .arg(chosen.updateExisting ? QStringLiteral("будут обновлены")
                                                     : QStringLiteral("будут пропущены"))
                          .arg(m_plan.cutValues)
                          .arg(m_plan.refused.size());
    if (!m_plan.unknownNames.isEmpty())
        summary +=
            QStringLiteral("\nТипов и папок, которых нет в каталоге (не будут назначены): %1")
                .arg(m_plan.unknownNames.size());
    m_summary->setText(summary);
    QStringList lines;
    if (!chosen.mapping.contains(QStringLiteral("Name")))
        lines.append(QStringLiteral("Выберите столбец с наименованием."));
    for (const auto &[line, reason] : m_plan.refused.mid(0, listedRefusals))
        lines.append(QStringLiteral("Строка %1: %2").arg(line).arg(reason));
    if (!m_plan.unknownNames.isEmpty())
        lines.append(QStringLiteral("Нет в каталоге: ") +
                     m_plan.unknownNames.mid(0, listedRefusals).join(QStringLiteral("; ")));
    m_refusals->setPlainText(lines.join('\n'));
}

bool ImportDialog::runImport()
{
    ProgressWindow progress(this, QStringLiteral("Загрузка записей..."), true);
    try {
        Import::run(m_session, m_table, options(), m_plan, [&progress](double done) {
            progress.show(done);
            return !progress.cancelled();
        });
    } catch (const EAbort &) {
        return false;
    }
    return true;
}
