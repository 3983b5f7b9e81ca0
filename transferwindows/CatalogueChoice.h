#pragma once

#include <QString>

class QMenu;
class QWidget;
class TMainForm;

// Choosing which catalogue the program works on: at start-up when the one
// the alias names cannot be reached, and from the toolbar menu ("Открыть
// каталог..." and the recently opened ones) while the program runs.
namespace CatalogueChoice {

// At start-up, before the data module opens the catalogue: while it cannot
// be reached, says which one and why, and lets the user open another one,
// make a new one in a folder that is gone, try again or leave. False when
// the user leaves.
bool reachAtStart(QWidget *parent);

// "Открыть каталог...": the dialog, then the chosen catalogue opened in the
// running window and kept for the next start.
void openFromDialog(TMainForm *window);
// Opens a recently opened catalogue in the running window.
void openRecent(TMainForm *window, const QString &location);

// Fills `menu` with the recently opened catalogues, each opening its own.
void fillRecentMenu(QMenu *menu, TMainForm *window);

} // namespace CatalogueChoice
