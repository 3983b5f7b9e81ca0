#include "Dialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QQueue>

namespace {

struct Script
{
    bool on = false;
    QQueue<bool> confirms;
    QQueue<bool> yesNos;
    QQueue<int> choices;
    QQueue<std::optional<QString>> prompts;
    QQueue<QString> files;
    QStringList asked;
    Dialogs::Shown lastShown;
};

Script &script()
{
    static Script instance;
    return instance;
}

// The scripted answer of one kind; `refusal` when the test queued none.
template <typename T> T nextAnswer(QQueue<T> &queue, const QString &text, const T &refusal)
{
    script().asked << text;
    return queue.isEmpty() ? refusal : queue.dequeue();
}

QString caption()
{
    return QApplication::applicationDisplayName();
}

// Texts built for the original platform break lines with LF then CR; a Qt
// label turns each of them into a line break of its own and the box would
// show a blank line between every two lines.
QString displayed(QString text)
{
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n"))
        .replace(QLatin1String("\n\r"), QLatin1String("\n"))
        .replace('\r', '\n');
}

QStringList buttonTexts(const QList<QAbstractButton *> &buttons)
{
    QStringList texts;
    for (const QAbstractButton *button : buttons)
        texts << button->text();
    return texts;
}

// What a built box shows, kept while scripted so that tests can read it.
void remember(const QString &title, const QString &text, const QList<QAbstractButton *> &buttons)
{
    script().lastShown = {title, text, buttonTexts(buttons)};
}

std::unique_ptr<QMessageBox> messageBox(QWidget *parent, QMessageBox::Icon icon,
                                        const QString &title, const QString &text,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton)
{
    auto box = std::make_unique<QMessageBox>(icon, title, displayed(text), buttons, parent);
    box->setDefaultButton(defaultButton);
    remember(title, box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))->text(),
             box->buttons());
    return box;
}

// Shows a box, or while scripted takes the next queued answer: true for the
// accepting button.
bool ask(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
         QMessageBox::StandardButtons buttons, QMessageBox::StandardButton accepting,
         QQueue<bool> *answers)
{
    const auto box = messageBox(parent, icon, title, text, buttons, accepting);
    if (script().on) {
        script().asked << text;
        return answers && !answers->isEmpty() && answers->dequeue();
    }
    return box->exec() == accepting;
}

} // namespace

bool Dialogs::confirm(QWidget *parent, const QString &question)
{
    return ask(parent, QMessageBox::Question, caption(), question,
               QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok, &script().confirms);
}

bool Dialogs::askYesNo(QWidget *parent, const QString &caption, const QString &question)
{
    return ask(parent, QMessageBox::Question, caption, question, QMessageBox::Yes | QMessageBox::No,
               QMessageBox::Yes, &script().yesNos);
}

void Dialogs::inform(QWidget *parent, const QString &text)
{
    ask(parent, QMessageBox::Information, caption(), text, QMessageBox::Ok, QMessageBox::Ok,
        nullptr);
}

int Dialogs::choose(QWidget *parent, const QString &text, const QStringList &buttons)
{
    QMessageBox box(QMessageBox::Warning, caption(), displayed(text), QMessageBox::NoButton,
                    parent);
    QList<QAbstractButton *> added;
    for (const QString &button : buttons)
        added << box.addButton(button, QMessageBox::AcceptRole);
    if (!added.isEmpty())
        box.setDefaultButton(qobject_cast<QPushButton *>(added.constFirst()));
    // A box of accepting buttons alone ignores Esc and its close box; an
    // unseen way out lets both end it with no choice made.
    box.setEscapeButton(box.addButton(QMessageBox::Cancel));
    box.escapeButton()->hide();
    remember(caption(), box.text(), added);
    if (script().on)
        return nextAnswer(script().choices, text, -1);
    box.exec();
    return int(added.indexOf(box.clickedButton()));
}

namespace {

std::optional<QString> askForText(QWidget *parent, const QString &caption, const QString &prompt,
                                  const QString &initialText, QLineEdit::EchoMode echo)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(caption);
    dialog.setLabelText(prompt);
    dialog.setTextValue(initialText);
    dialog.setTextEchoMode(echo);
    dialog.ensurePolished(); // builds the buttons
    if (const auto *buttons = dialog.findChild<QDialogButtonBox *>())
        remember(caption, prompt, buttons->buttons());
    if (script().on)
        return nextAnswer(script().prompts, prompt, std::optional<QString>());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

} // namespace

std::optional<QString> Dialogs::promptText(QWidget *parent, const QString &caption,
                                           const QString &prompt, const QString &initialText)
{
    return askForText(parent, caption, prompt, initialText, QLineEdit::Normal);
}

std::optional<QString> Dialogs::promptPassword(QWidget *parent, const QString &caption,
                                               const QString &prompt)
{
    return askForText(parent, caption, prompt, {}, QLineEdit::Password);
}

QString Dialogs::openFileName(QWidget *parent, const QString &caption, const QString &directory,
                              const QString &filter)
{
    if (script().on)
        return nextAnswer(script().files, filter.isEmpty() ? caption : caption + '\n' + filter,
                          QString());
    QFileDialog dialog(parent, caption, directory, filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A name typed for a file that is not there yet is accepted as well.
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString Dialogs::saveFileName(QWidget *parent, const QString &caption, const QString &proposedPath,
                              const QString &filter)
{
    if (script().on)
        return nextAnswer(script().files, caption, QString());
    QFileDialog dialog(parent, caption, proposedPath, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.selectFile(proposedPath);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

void Dialogs::setScripted(bool scripted)
{
    script() = Script();
    script().on = scripted;
}

void Dialogs::answerNextConfirm(bool ok)
{
    script().on = true;
    script().confirms.enqueue(ok);
}

void Dialogs::answerNextYesNo(bool yes)
{
    script().on = true;
    script().yesNos.enqueue(yes);
}

void Dialogs::answerNextChoice(int button)
{
    script().on = true;
    script().choices.enqueue(button);
}

void Dialogs::answerNextPrompt(const std::optional<QString> &text)
{
    script().on = true;
    script().prompts.enqueue(text);
}

void Dialogs::answerNextOpenFile(const QString &path)
{
    script().on = true;
    script().files.enqueue(path);
}

QStringList Dialogs::asked()
{
    return script().asked;
}

Dialogs::Shown Dialogs::lastShown()
{
    return script().lastShown;
}
