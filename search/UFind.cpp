#include "UFind.h"

#include "Application.h"
#include "DBGrid.h"
#include "Dialogs.h"
#include "FileIndexer.h"
#include "RadioGroup.h"
#include "SearchStatement.h"
#include "UData.h"
#include "UFirm.h"
#include "UItem.h"
#include "WindowPlaces.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>

TfrmFind *frmFind = nullptr;

namespace {

QComboBox *joinerBox(QWidget *parent, const char *name)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->addItems({QStringLiteral("и"), QStringLiteral("или")});
    return box;
}

QLineEdit *textBox(QWidget *parent, const char *name)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}

QPushButton *button(QWidget *parent, const char *name, const QString &caption)
{
    auto *pushButton = new QPushButton(caption, parent);
    pushButton->setObjectName(QString::fromLatin1(name));
    pushButton->setAutoDefault(false);
    return pushButton;
}

} // namespace

TfrmFind::TfrmFind(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmFind"));
    setWindowTitle(QStringLiteral("Поиск"));
    setFont(QFont(QStringLiteral("Arial"), 9));
    qFind.setObjectName(QStringLiteral("qFind"));
    dsFind.setObjectName(QStringLiteral("dsFind"));
    dsFind.setDataSet(&qFind);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(makeSearchPanel());
    makeResultList();
    column->addWidget(DBGrid1, 1);
    FileMatchLabel = new QLabel(this);
    FileMatchLabel->setObjectName(QStringLiteral("FileMatchLabel"));
    FileMatchLabel->setWordWrap(true);
    FileMatchLabel->setTextFormat(Qt::PlainText);
    FileMatchLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    FileMatchLabel->setContentsMargins(6, 2, 6, 2);
    // Two lines are kept for the matched file's words whenever files can be
    // searched, so the list does not shrink when they appear.
    FileMatchLabel->setFixedHeight(2 * FileMatchLabel->fontMetrics().lineSpacing() + 4);
    FileMatchLabel->hide();
    column->addWidget(FileMatchLabel);
    auto *status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("StatusBar1"));
    status->setSizeGripEnabled(true);
    StatusPanel = new QLabel(status);
    StatusPanel->setObjectName(QStringLiteral("StatusPanel0"));
    StatusPanel->setMinimumWidth(500);
    status->addWidget(StatusPanel);
    column->addWidget(status);

    const QList<QWidget *> tabOrder = {RadioGroup1->button(0),
                                       RadioGroup1->button(1),
                                       Edit1,
                                       ComboBox1,
                                       Edit2,
                                       ComboBox2,
                                       Edit3,
                                       CheckBox1,
                                       CheckBoxInFiles,
                                       Button1,
                                       Button2,
                                       Button3,
                                       DBGrid1};
    for (int i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    placeWindow();
    FormCreate();
}

// Where the user left the window; the first time, in the middle of the
// desktop at a size wide enough for every control and the list's columns,
// and high enough for eight found rows under the search boxes, whatever the font.
void TfrmFind::placeWindow()
{
    if (WindowPlaces::restorePlace(this))
        return;
    constexpr int designedWidth = 544, designedHeight = 309, rowsShown = 8;
    const int designedMinimum = DBGrid1->minimumHeight();
    DBGrid1->setMinimumHeight(DBGrid1->heightForRows(rowsShown));
    layout()->activate();
    resize(std::max(designedWidth, minimumSizeHint().width()),
           std::max(designedHeight, minimumSizeHint().height()));
    // The user may still make the window smaller.
    DBGrid1->setMinimumHeight(designedMinimum);
    if (const QScreen *screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfrmFind::hideEvent(QHideEvent *event)
{
    if (!event->spontaneous())
        WindowPlaces::rememberPlace(this);
    QDialog::hideEvent(event);
}

QWidget *TfrmFind::makeSearchPanel()
{
    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    auto *grid = new QGridLayout(panel);
    grid->setContentsMargins(6, 4, 6, 4);
    // Room between the rows for the joiners centred on the lines between them.
    grid->setVerticalSpacing(6);
    RadioGroup1 = new RadioGroup(QStringLiteral(" Область поиска "),
                                 {QStringLiteral("Фирмы"), QStringLiteral("Элементы")}, 2, panel);
    RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
    RadioGroup1->setItemIndex(SearchStatement::Firms);
    grid->addWidget(RadioGroup1, 0, 0, 1, 3);

    Edit1 = textBox(panel, "Edit1");
    Edit2 = textBox(panel, "Edit2");
    Edit3 = textBox(panel, "Edit3");
    ComboBox1 = joinerBox(panel, "ComboBox1");
    ComboBox2 = joinerBox(panel, "ComboBox2");
    const QList<std::pair<QString, QLineEdit *>> rows = {{QStringLiteral("&Название"), Edit1},
                                                         {QStringLiteral("&Синонимы"), Edit2},
                                                         {QStringLiteral("&Описание"), Edit3}};
    // Each text sits on its own row; a joiner stands between the two rows it
    // joins, to their right: it spans both rows, centred on the line between
    // them, so that the rows stay close together and the list keeps its room.
    for (int i = 0; i < rows.size(); ++i) {
        auto *label = new QLabel(rows[i].first, panel);
        label->setObjectName(QStringLiteral("Label%1").arg(i + 1));
        label->setBuddy(rows[i].second);
        grid->addWidget(label, 1 + i, 0);
        grid->addWidget(rows[i].second, 1 + i, 1);
    }
    grid->addWidget(ComboBox1, 1, 2, 2, 1, Qt::AlignVCenter);
    grid->addWidget(ComboBox2, 2, 2, 2, 1, Qt::AlignVCenter);
    ComboBox1->setAccessibleName(QStringLiteral("Название и синонимы"));
    ComboBox2->setAccessibleName(QStringLiteral("Синонимы и описание"));
    CheckBox1 = new QCheckBox(QStringLiteral("Одинаковое во всех полях"), panel);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    connect(CheckBox1, &QCheckBox::toggled, this, [this] { CheckBox1Click(); });
    CheckBoxInFiles = new QCheckBox(QStringLiteral("Искать в прикреплённых файлах"), panel);
    CheckBoxInFiles->setObjectName(QStringLiteral("CheckBoxInFiles"));
    CheckBoxInFiles->setEnabled(false);
    // Both boxes share the last row, so the list keeps its place and size.
    auto *boxes = new QHBoxLayout;
    boxes->addWidget(CheckBox1);
    boxes->addStretch();
    boxes->addWidget(CheckBoxInFiles);
    grid->addLayout(boxes, 4, 1, 1, 2);
    grid->addWidget(makeButtonColumn(), 0, 3, 5, 1, Qt::AlignTop);
    grid->setColumnStretch(1, 1);
    return panel;
}

QWidget *TfrmFind::makeButtonColumn()
{
    auto *buttons = new QWidget(this);
    auto *column = new QVBoxLayout(buttons);
    column->setContentsMargins(6, 6, 0, 0);
    Button1 = button(buttons, "Button1", QStringLiteral("Найти"));
    Button1->setDefault(true);
    Button2 = button(buttons, "Button2", QStringLiteral("Новый поиск"));
    Button3 = button(buttons, "Button3", QStringLiteral("Закрыть"));
    connect(Button1, &QPushButton::clicked, this,
            [this] { Application::guarded([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this,
            [this] { Application::guarded([this] { Button2Click(); }); });
    connect(Button3, &QPushButton::clicked, this, &QDialog::reject);
    for (QPushButton *b : {Button1, Button2, Button3})
        column->addWidget(b);
    column->addStretch();
    return buttons;
}

void TfrmFind::makeResultList()
{
    DBGrid1 = new DBGrid(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setDataSource(&dsFind);
    DBGrid1->setColumns({{QStringLiteral("Name"), QStringLiteral("Название"), 175},
                         {QStringLiteral("Sinonyms"), QStringLiteral("Синонимы"), 165},
                         {QStringLiteral("Description"), QStringLiteral("Описание"), 156}});
    DBGrid1->setReadOnly(true);
    DBGrid1->setAccessibleName(QStringLiteral("Найденные записи"));
    connect(DBGrid1, &DBGrid::dblClicked, this,
            [this] { Application::guarded([this] { DBGrid1DblClick(); }); });
    connect(DBGrid1, &DBGrid::drawColumnCell, this, &TfrmFind::paintFileMatch);
    connect(&qFind, &DataSet::scrolled, this, &TfrmFind::showCurrentFileMatch);
    connect(&qFind, &DataSet::reset, this, &TfrmFind::showCurrentFileMatch);
}

void TfrmFind::setFileIndexer(FileIndexer *indexer)
{
    m_indexer = indexer;
    CheckBoxInFiles->setEnabled(indexer != nullptr);
    // The lines kept for the matched words take room from the list.
    FileMatchLabel->setVisible(indexer != nullptr);
    placeWindow();
}

void TfrmFind::FormCreate()
{
    ComboBox1->setCurrentIndex(SearchStatement::Or);
    ComboBox2->setCurrentIndex(SearchStatement::Or);
}

void TfrmFind::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    RadioGroup1->focusChosen();
}

void TfrmFind::CheckBox1Click()
{
    // The name text stands for all three fields: the other two boxes are
    // greyed, keeping their texts for when the box is cleared.
    const bool same = CheckBox1->isChecked();
    for (QLineEdit *edit : {Edit2, Edit3}) {
        edit->setEnabled(!same);
        QPalette palette = edit->palette();
        palette.setColor(QPalette::Base, same ? palette.color(QPalette::Button)
                                              : QApplication::palette(edit).color(QPalette::Base));
        edit->setPalette(palette);
    }
}

void TfrmFind::Button1Click()
{
    const bool same = CheckBox1->isChecked();
    const QString name = Edit1->text();
    const int scope = RadioGroup1->itemIndex();
    const SearchStatement::Statement statement =
        SearchStatement::build(SearchStatement::Scope(scope),
                               {name, same ? name : Edit2->text(), same ? name : Edit3->text(),
                                SearchStatement::Joiner(ComboBox1->currentIndex()),
                                SearchStatement::Joiner(ComboBox2->currentIndex())});
    if (statement.sql.isEmpty()) {
        Dialogs::inform(this, QStringLiteral("Введите текст для поиска"));
        return;
    }
    // A new text closes the query; the list empties until it opens again.
    qFind.setSession(dm->Main_sess());
    QString sql = statement.sql;
    findInFiles(scope, sql);
    qFind.setSql({sql});
    for (auto it = statement.parameters.cbegin(); it != statement.parameters.cend(); ++it)
        qFind.setParam(it.key(), it.value());
    qFind.open();
    m_foundScope = scope;
    showCurrentFileMatch();
    StatusPanel->setText(QStringLiteral("Найдено записей - ") +
                         QString::number(qFind.recordCount()));
}

void TfrmFind::Button2Click()
{
    Edit1->clear();
    Edit2->clear();
    Edit3->clear();
    CheckBox1->setChecked(false);
    qFind.close();
    m_fileMatches.clear();
    showFileColumn(false);
}

// Without the tick the statement stays the one the boxes make.
void TfrmFind::findInFiles(int scope, QString &sql)
{
    m_fileMatches.clear();
    const bool inFiles = m_indexer && CheckBoxInFiles->isChecked();
    if (inFiles) {
        m_fileMatches.find(*m_indexer, Edit1->text(),
                           scope == SearchStatement::Firms ? FileMatches::Firm : FileMatches::Item);
        sql += m_fileMatches.condition();
    }
    showFileColumn(inFiles);
}

void TfrmFind::showFileColumn(bool shown)
{
    QList<GridColumn> columns = {{QStringLiteral("Name"), QStringLiteral("Название"), 175},
                                 {QStringLiteral("Sinonyms"), QStringLiteral("Синонимы"), 165},
                                 {QStringLiteral("Description"), QStringLiteral("Описание"), 156}};
    if (shown)
        columns.append({QString(), QStringLiteral("Найдено в файле"), 300});
    if (columns.size() != DBGrid1->columns().size())
        DBGrid1->setColumns(columns);
}

qint64 TfrmFind::ownerKeyAt(int row) const
{
    const Field *key =
        qFind.findField(m_foundScope == SearchStatement::Firms ? QStringLiteral("FirmID")
                                                               : QStringLiteral("ItemID"));
    return key ? qFind.displayValue(row, key).toLongLong() : 0;
}

void TfrmFind::paintFileMatch(QPainter *painter, const QRect &rect, int row, int column)
{
    if (column != 3 || !qFind.active())
        return;
    const QString text = m_fileMatches.describe(ownerKeyAt(row));
    painter->drawText(rect.adjusted(2, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft,
                      painter->fontMetrics().elidedText(text, Qt::ElideRight, rect.width() - 4));
}

void TfrmFind::showCurrentFileMatch()
{
    const bool current = qFind.active() && !qFind.isEmpty() && !m_fileMatches.isEmpty();
    const QString text = current ? m_fileMatches.describe(ownerKeyAt(qFind.recNo())) : QString();
    // What does not fit the two lines ends in "…"; the whole text is in the tip.
    const QFontMetrics metrics = FileMatchLabel->fontMetrics();
    // The label runs across the window (also before the window is first laid out).
    const QMargins margins = FileMatchLabel->contentsMargins();
    const int line = width() - margins.left() - margins.right() - metrics.averageCharWidth();
    const int room = 2 * line;
    FileMatchLabel->setText(metrics.elidedText(text, Qt::ElideRight, std::max(room, 0)));
    FileMatchLabel->setToolTip(text);
}

void TfrmFind::DBGrid1DblClick()
{
    if (!qFind.active() || qFind.isEmpty())
        return;
    // The rows say what they are: a scope switched without a new search does
    // not make a listed firm an item.
    if (m_foundScope == SearchStatement::Firms)
        editFirmByKey(this, qFind.fieldByName(QStringLiteral("FirmID"))->asInteger(), true);
    else
        editItemByKey(this, qFind.fieldByName(QStringLiteral("ItemID"))->asInteger());
}
