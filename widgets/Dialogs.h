#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

// The modal boxes the windows ask their questions with. Tests script the
// answers: once scripted, no box is shown and each call takes the next
// answer queued for its kind, or the refusing answer when none is queued, so
// that no test ever waits on a modal loop.
class Dialogs
{
public:
    // A question with OK and Cancel; true on OK.
    static bool confirm(QWidget *parent, const QString &question);
    // A question with Yes and No under a caption; true on Yes.
    static bool askYesNo(QWidget *parent, const QString &caption, const QString &question);
    // A message with an OK button.
    static void inform(QWidget *parent, const QString &text);
    // A message with buttons of its own; the index of the button pressed, or
    // -1 when the box is closed without one (Esc, the close box).
    static int choose(QWidget *parent, const QString &text, const QStringList &buttons);
    // A one-line text prompt; nothing when the user cancels.
    static std::optional<QString> promptText(QWidget *parent, const QString &caption,
                                             const QString &prompt, const QString &initialText);
    // A password prompt (what is typed is not shown); nothing when the user
    // cancels. Scripted, it takes the next queued prompt answer.
    static std::optional<QString> promptPassword(QWidget *parent, const QString &caption,
                                                 const QString &prompt);
    // The open-file dialog offering the files `filter` names (every file when
    // empty); the chosen path, or an empty text when cancelled. The file need
    // not exist. Scripted, the caption and the filter are what it was asked.
    static QString openFileName(QWidget *parent, const QString &caption, const QString &directory,
                                const QString &filter = {});
    // The save-file dialog proposing `proposedPath`; asks before replacing a
    // file. Scripted, it takes the next queued file answer.
    static QString saveFileName(QWidget *parent, const QString &caption,
                                const QString &proposedPath, const QString &filter);

    // Test seam. Scripting starts with setScripted(true) or with any queued
    // answer; setScripted(false) shows real boxes again and forgets the script.
    static void setScripted(bool scripted);
    static void answerNextConfirm(bool ok);
    static void answerNextYesNo(bool yes);
    static void answerNextChoice(int button);
    static void answerNextPrompt(const std::optional<QString> &text);
    static void answerNextOpenFile(const QString &path);
    // The texts of the boxes shown while scripted, in order, as the callers built them.
    static QStringList asked();
    // What the last box built shows on screen: its title, text and buttons.
    struct Shown
    {
        QString title;
        QString text;
        QStringList buttons;
    };
    static Shown lastShown();
};
