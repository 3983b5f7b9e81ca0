#pragma once

#include <QDialog>

// The search window: created once at start-up and kept for the whole run,
// so that its texts and last result stay as the user left them.
class TfrmFind : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmFind(QWidget *owner = nullptr);
};

extern TfrmFind *frmFind;
