#include "EditorParts.h"

#include "Application.h"
#include "DBEdit.h"
#include "DBGrid.h"
#include "Dialogs.h"
#include "EngineError.h"
#include "Table.h"
#include "WindowPlaces.h"

#include <QDialog>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QScopeGuard>
#include <QToolButton>

namespace EditorParts {

void setUpWindow(QDialog *window, int width, int height)
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    window->setFont(font);
    window->resize(width, height);
    WindowPlaces::restoreSize(window);
    WindowPlaces::centreOnOpener(window);
}

DBEdit *boundEdit(QWidget *parent, const char *name, DataSource *source, const QString &field)
{
    auto *edit = new DBEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setDataSource(source);
    edit->setFieldName(field);
    return edit;
}

QLabel *buddyLabel(QWidget *parent, const QString &text, QWidget *buddy)
{
    auto *label = new QLabel(text, parent);
    label->setBuddy(buddy);
    buddy->setAccessibleName(text);
    return label;
}

QToolButton *pictureButton(QWidget *parent, const char *name, const QString &accessibleName,
                           Pictures::Picture picture)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(Pictures::picture(picture));
    button->setAccessibleName(accessibleName);
    button->setToolTip(accessibleName);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

NameBand nameBand(QWidget *parent, DataSource *source, const QStringList &labels,
                  const QString &typesCaption)
{
    NameBand band;
    band.frame = new QFrame(parent);
    band.frame->setObjectName(QStringLiteral("Panel1"));
    band.frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    band.name = boundEdit(parent, "DBEdit1", source, QStringLiteral("Name"));
    band.otherNames = boundEdit(parent, "DBEdit2", source, QStringLiteral("Sinonyms"));
    band.description = boundEdit(parent, "DBEdit3", source, QStringLiteral("Description"));
    band.types = pictureButton(parent, "BitBtn1", typesCaption, Pictures::FirmTypes);
    band.types->setText(typesCaption);
    band.types->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    band.types->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);

    auto *grid = new QGridLayout(band.frame);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setVerticalSpacing(3);
    const QList<DBEdit *> edits = {band.name, band.otherNames, band.description};
    for (int row = 0; row < edits.size(); ++row) {
        grid->addWidget(buddyLabel(parent, labels.value(row), edits[row]), row, 0);
        // The description runs on beneath the button.
        grid->addWidget(edits[row], row, 1, 1, row == 2 ? 2 : 1);
    }
    grid->addWidget(band.types, 0, 2, 2, 1);
    grid->setColumnStretch(1, 1);
    return band;
}

namespace {

bool isWithin(const QWidget *widget, const QWidget *container)
{
    for (; widget; widget = widget->parentWidget()) {
        if (widget == container)
            return true;
    }
    return false;
}

} // namespace

void onEnter(DBGrid *grid, const std::function<void()> &entered)
{
    QObject::connect(qApp, &QApplication::focusChanged, grid,
                     [grid, entered](QWidget *from, QWidget *to) {
                         if (!from || from->window() != grid->window() || isWithin(from, grid) ||
                             !isWithin(to, grid))
                             return;
                         Application::guarded(entered);
                     });
}

void refuseWhenNothingToChoose(DBGrid *grid, const DataSet &choices, const QString &message)
{
    const bool nothing = choices.isEmpty();
    grid->setReadOnly(nothing);
    if (nothing) {
        Dialogs::inform(grid->window(), message);
        Abort();
    }
}

bool isPending(const DataSet &dataSet)
{
    return dataSet.state() == DataSetState::Edit || dataSet.state() == DataSetState::Insert;
}

void postIfPending(DataSet &dataSet)
{
    if (isPending(dataSet))
        Application::postSettled(dataSet);
}

void storePending(DataSet &dataSet)
{
    if (dataSet.state() == DataSetState::Insert && !dataSet.modified()) {
        dataSet.cancel();
        return;
    }
    try {
        postIfPending(dataSet);
    } catch (const EAbort &) {
        // A row the data module refuses to store (nothing chosen in it) is
        // dropped, and the window closes as it would without it.
        dataSet.cancel();
    }
}

void rereadList(DataSet &list, const QString &keyField)
{
    const QVariant current = list.isEmpty() ? QVariant() : list.fieldByName(keyField)->value();
    list.close();
    list.open();
    if (current.isValid())
        list.locate(keyField, current);
}

void editByKey(Table &table, const QString &keyField, qint64 key, const std::function<void()> &edit)
{
    DataSource *const master = table.masterSource();
    const QString filter = table.filter();
    const bool filtered = table.filtered();
    // Runs while an exception may be on its way out: it must not throw.
    const auto restore = qScopeGuard([&] {
        Application::guarded([&] {
            table.setFilter(filter);
            table.setFiltered(filtered);
            table.setMasterSource(master);
        });
    });
    table.setFilter(keyField + QLatin1Char('=') + QString::number(key));
    table.setFiltered(true);
    table.setMasterSource(nullptr);
    if (!table.isEmpty())
        edit();
}

} // namespace EditorParts
