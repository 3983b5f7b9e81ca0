#pragma once

#include "ClassesRoot.h"

#include <QPixmap>
#include <QString>
#include <optional>

// Where an icon comes from, as a type's "DefaultIcon" value names it: "file,index".
struct IconSource
{
    QString file;
    quint16 index = 0;
};

// Reads "file,index". The index is the integer written in at most two
// characters after the first comma, taken as an unsigned 16-bit number, so
// "x,123" gives 12 and "x,-152" gives 65535. A value without a comma names
// the index 0; characters after the comma that are no integer give nothing.
std::optional<IconSource> parseIconSource(const QString &text);

// The extension by which a file's type is looked up: from the last dot of the
// name to its end, dot included; empty when the name has no dot.
QString fileExtension(const QString &fileName);

// The icon of the file's type at 16 x 16, as the attached-files grid draws it:
// the type's icon; the program's question-mark icon when the extension has no
// type; a null pixmap when the name is empty or the type's icon cannot be had.
// Needs the GUI application object.
QPixmap FileTypeIcon(const QString &fileName, const ClassesRoot &root = desktopClassesRoot());

// The icon named by an icon source: a theme icon (the first of the names that
// the source joins with ';' that the theme has) or an image file given by its
// absolute path. Either holds one icon, at the index 0; a null pixmap otherwise.
QPixmap iconFromSource(const IconSource &source);

// The program's own icon for a file of unknown type: a yellow question mark.
QPixmap unknownTypeIcon();
