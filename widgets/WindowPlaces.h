#pragma once

class QWidget;

// Where the user left the program's windows, kept between starts under each
// window's name: the main and the search window come back with their size
// and place, an editor with its size (its place is beside its opener).
namespace WindowPlaces {

// Gives the window the size and place it was left with; false when it has
// none yet (the first start), so that the caller gives it the designed ones.
bool restorePlace(QWidget *window);
void rememberPlace(const QWidget *window);

// Gives the window the size it was left with, if any.
void restoreSize(QWidget *window);
void rememberSize(const QWidget *window);

// Puts the window's centre on its opener's (the window of its parent), or on
// the desktop's when it has none.
void centreOnOpener(QWidget *window);

} // namespace WindowPlaces
