#pragma once

#include "ClassesRoot.h"

#include <QString>
#include <QStringList>
#include <optional>

// The longest command line RunAndWait accepts, as the classic process start
// took it; a longer one is refused rather than cut, since a cut line would
// start a program on the wrong file.
inline constexpr qsizetype MaxCommandLineLength = 512;

// The stored open command of the first web-page type (".html", ".htm",
// ".shtml", ".shtm", in this order) that has one, unchanged ("%1" and quotes
// included); an empty text when none has.
QString FindBrowserCommand(const ClassesRoot &root = desktopClassesRoot());

// Starts the program that the command line names, with its arguments (quotes
// honoured, no shell), and waits until it ends. Returns false at once when the
// line is empty, longer than 512 characters, does not parse, or names no
// program that can be started; true when the program ran and ended. Its exit
// code is not examined.
//
// While it waits the windows keep repainting (a window that stops repainting
// is offered to the user for killing, which would lose the file being edited),
// but user input is held back until the program ends.
bool RunAndWait(const QString &commandLine);

// Splits a command line into the program and its arguments, as a desktop
// entry's command line is split: blanks separate, double and single quotes
// group, a backslash escapes. Nothing when the line does not parse.
std::optional<QStringList> splitCommandLine(const QString &commandLine);

// The shell's open verb. Without parameters: opens a file, a "mailto:" address
// or a web address (with or without "http://") with the desktop's handler.
// With parameters: starts the program `target` with them. Neither waits.
// Returns whether a program was started; callers may ignore it.
bool ShellOpen(const QString &target, const QString &parameters = QString());
