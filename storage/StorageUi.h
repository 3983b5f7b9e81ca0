#pragma once

#include <QString>

// What the storage layer asks of the windows: questions, messages and the
// progress of long work. The windows implement it (splash window, message
// boxes); the command line prints; tests record.
class StorageUi
{
public:
    virtual ~StorageUi() = default;

    // An OK/Cancel question; true for OK.
    virtual bool confirm(const QString &question) = 0;
    // An information message.
    virtual void message(const QString &text) = 0;

    // The status line of the progress window ("Проверка данных").
    virtual void setStatus(const QString &text) = 0;
    // Shows the progress bar and sets its range; the position goes to 0.
    virtual void startProgress(int maximum) = 0;
    // The caption of the table being worked on.
    virtual void setTableCaption(const QString &caption) = 0;
    // One step further; the window is repainted and pending events handled.
    virtual void stepProgress() = 0;
    // What a check did to a table beyond declaring its keys and indexes
    // again: created it, or changed its fields. Tables left as they were are
    // not reported.
    virtual void tableChanged(const QString &, bool /*created*/) {}
    // A table packed: the size of its file before and after, in bytes.
    virtual void tablePacked(const QString &, qint64 /*before*/, qint64 /*after*/) {}
    // Called now and then during one long statement (an index over a large
    // table) so that the window can repaint; user input must wait.
    virtual void keepAlive() {}
};
