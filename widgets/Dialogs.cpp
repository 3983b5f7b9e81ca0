#include "Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QQueue>

namespace {

struct Script
{
    bool on = false;
    QQueue<bool> confirms;
    QQueue<bool> yesNos;
    QQueue<std::optional<QString>> prompts;
    QQueue<QString> files;
    QStringList asked;
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

} // namespace

bool Dialogs::confirm(QWidget *parent, const QString &question)
{
    if (script().on)
        return nextAnswer(script().confirms, question, false);
    QMessageBox box(QMessageBox::Question, caption(), question,
                    QMessageBox::Ok | QMessageBox::Cancel, parent);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

bool Dialogs::askYesNo(QWidget *parent, const QString &caption, const QString &question)
{
    if (script().on)
        return nextAnswer(script().yesNos, question, false);
    QMessageBox box(QMessageBox::Question, caption, question, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void Dialogs::inform(QWidget *parent, const QString &text)
{
    if (script().on) {
        script().asked << text;
        return;
    }
    QMessageBox::information(parent, caption(), text);
}

std::optional<QString> Dialogs::promptText(QWidget *parent, const QString &caption,
                                           const QString &prompt, const QString &initialText)
{
    if (script().on)
        return nextAnswer(script().prompts, prompt, std::optional<QString>());
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, caption, prompt, QLineEdit::Normal, initialText, &ok);
    return ok ? std::optional<QString>(text) : std::nullopt;
}

QString Dialogs::openFileName(QWidget *parent, const QString &caption, const QString &directory)
{
    if (script().on)
        return nextAnswer(script().files, caption, QString());
    QFileDialog dialog(parent, caption, directory);
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
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // Qt's own dialog speaks English unless told otherwise.
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Папка:"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Имя файла:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Тип файла:"));
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Сохранить"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Отмена"));
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
