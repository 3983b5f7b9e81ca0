#pragma once

#include <QIcon>

// The pictures of the main window's toolbar and small buttons: the desktop's
// theme icon where there is one, else a drawn picture of our own.
namespace Pictures {

enum Picture
{
    FolderPanelHidden = 0,
    Search = 1,
    Options = 2,
    About = 3,
    Exit = 4,
    FolderPanelShown = 5,
    AddFolder,
    DeleteFolder,
    // The firm editor's buttons: writes an e-mail, opens a web address, the firm's types.
    Envelope,
    Globe,
    FirmTypes,
    // The item editor's button that opens the firm of a maker or seller row.
    OpenFirm
};

QIcon picture(Picture which);

} // namespace Pictures
