#pragma once

#include "StorageUi.h"

#include <QStringList>

// A stand-in for the windows that records what storage asked of them and
// answers questions with a preset answer.
class RecordingUi : public StorageUi
{
public:
    bool answer = true;
    QStringList questions;
    QStringList messages;
    QStringList captions;
    int steps = 0;
    int maximum = -1;

    bool confirm(const QString &question) override
    {
        questions << question;
        return answer;
    }
    void message(const QString &text) override { messages << text; }
    void setStatus(const QString &) override {}
    void startProgress(int max) override { maximum = max; }
    void setTableCaption(const QString &caption) override { captions << caption; }
    void stepProgress() override { ++steps; }
};
