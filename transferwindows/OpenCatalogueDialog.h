#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;
class QVBoxLayout;

// "Открыть каталог": a folder on this computer or a database on a
// PostgreSQL server (its address in libpq's URI form, with a connection
// test), or one of the recently opened catalogues.
class OpenCatalogueDialog : public QDialog
{
    Q_OBJECT
public:
    // Tells whether a catalogue can be reached: empty when it can, else why
    // not. A password asked for on the way is added to `location`.
    using Probe = std::function<QString(QString &location)>;

    OpenCatalogueDialog(QWidget *parent, const QString &current, Probe probe);

    void setProbe(Probe probe) { m_probe = std::move(probe); }

    // Where the chosen catalogue lives: an absolute folder or a server address.
    QString location() const;
    // Shows a location in the field of its kind and chooses that kind.
    void setLocation(const QString &location);

    QRadioButton *rbFolder;
    QLineEdit *edFolder;
    QPushButton *bBrowse; // picks the folder in the desktop's folder dialog
    QRadioButton *rbServer;
    QLineEdit *edServer;
    QPushButton *bTest; // tries the server address and says what came of it
    QLabel *lblTest;
    QListWidget *lstRecent;

    void bTestClick();
    void bBrowseClick();
    void accept() override;

private:
    // The two kinds of catalogue, each a choice with its field and button.
    void addKinds(QVBoxLayout *layout);
    void fillRecent(const QString &current);
    void recentChosen(QListWidgetItem *item);
    void kindChanged();

    Probe m_probe;
    // The server address as tested, with any password asked for then: kept
    // in memory for this run while the field still shows that address.
    QString m_tested;
};

// Shows the dialog modally, unless a test says otherwise; true when the
// user chose a catalogue.
bool runOpenCatalogueDialog(OpenCatalogueDialog &dialog);
// Test seam: fills and answers the dialog instead of its modal loop.
void setOpenCatalogueRunner(std::function<bool(OpenCatalogueDialog &)> runner);
