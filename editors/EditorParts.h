#pragma once

#include "Pictures.h"

#include <QString>
#include <QStringList>
#include <functional>

class DBEdit;
class DBGrid;
class DataSet;
class DataSource;
class Table;
class QDialog;
class QFrame;
class QLabel;
class QToolButton;
class QWidget;

// What the record editors are built of, so that they look and behave alike.
namespace EditorParts {

// Arial 8 points, the size of the editors' texts; the size the user left the
// window with, if any; centred on the window that opened it.
void setUpWindow(QDialog *window, int width, int height);

DBEdit *boundEdit(QWidget *parent, const char *name, DataSource *source, const QString &field);

// A label that announces its box: the box's buddy, and its accessible name.
QLabel *buddyLabel(QWidget *parent, const QString &text, QWidget *buddy);

// A button with a picture and no caption; its accessible name (and tool tip)
// says what it does.
QToolButton *pictureButton(QWidget *parent, const char *name, const QString &accessibleName,
                           Pictures::Picture picture);

// Calls `entered` when the focus moves into `grid` from another control of
// its window; focus that comes back from a message box is no entry. The
// handler runs guarded: a silent abort ends it quietly.
void onEnter(DBGrid *grid, const std::function<void()> &entered);

// The framed band across the top of an editor: name, other names and
// description of `source`'s record, with the types button `BitBtn1` (caption
// `typesCaption`, picture above it) beside the first two. The texts are the
// labels of the three boxes.
struct NameBand
{
    QFrame *frame;
    DBEdit *name, *otherNames, *description;
    QToolButton *types;
};
NameBand nameBand(QWidget *parent, DataSource *source, const QStringList &labels,
                  const QString &typesCaption);

// Makes the grid read-only and says so when its list of choices is empty,
// ending the entry with a silent abort; editable otherwise.
void refuseWhenNothingToChoose(DBGrid *grid, const DataSet &choices, const QString &message);

bool isPending(const DataSet &dataSet);
void postIfPending(DataSet &dataSet);
// What an editor stores when it closes: a changed record is posted; a new
// row nobody typed into, or one the data module refuses to store, is dropped,
// as leaving its grid drops it.
void storePending(DataSet &dataSet);
// Reads a main list again and stands on the record it stood on, so that a
// changed name shows in its sorted place.
void rereadList(DataSet &list, const QString &keyField);

// Opens `edit` with `table` standing on the one record whose `keyField` is
// `key`: unlinked from its master and filtered to that key while `edit` runs,
// filter text, filter switch and master link restored afterwards on every path.
void editByKey(Table &table, const QString &keyField, qint64 key,
               const std::function<void()> &edit);

} // namespace EditorParts
