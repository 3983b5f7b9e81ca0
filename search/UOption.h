#pragma once

#include <QDialog>

class QCheckBox;
class StorageUi;
class QPushButton;

// The options window: the three stored settings, and a structure check or a
// pack of every table started by hand, with the splash window showing the
// progress. Created for one opening by the main window.
class TfrmOption : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmOption(QWidget *owner = nullptr);

    // Controls by their design names.
    QCheckBox *CheckBox1; // check the tables' structure at start-up
    QCheckBox *CheckBox2; // pack the tables when checking
    QCheckBox *CheckBox3; // the lists start limited to the current folder
    QPushButton *Button1, *Button2, *Button3, *Button4; // "Ok", "Отмена", "Проверить", "Сжать"

    void FormCreate();
    void Button1Click();
    void Button3Click();
    void Button4Click();
    // Closes every dataset of the data module, runs the verifier (checking
    // the structures, or with `check` off only packing) with the splash window
    // showing its progress, opens the datasets again on the records the
    // lists stood on, and says in a short message what was done. A run is
    // never started while another is under way.
    void CheckBase(bool check, bool pack);

    bool running() const { return m_running; }

public slots:
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QCheckBox *makeBox(const char *name, const QString &caption);
    QPushButton *makeButton(const char *name, const QString &caption);
    void runVerifier(bool check, bool pack, StorageUi &ui);

    bool m_running = false;
};
