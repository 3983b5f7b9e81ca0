#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

// The splash window: shown from the first moment of start-up, it reports the
// structure check and stays under the main window for the whole run, so that
// a manual check or pack can show its progress in it again. The same window,
// with its "Ok" button, is the about box.
class TSplashForm : public QDialog
{
    Q_OBJECT
public:
    explicit TSplashForm(QWidget *owner = nullptr);

    QLabel *lblInit;
    QLabel *lblTable;
    QProgressBar *Progress;
    QPushButton *Button1;

private:
    QWidget *makePicture();
};

// The one splash window of the run.
extern TSplashForm *SplashForm;
