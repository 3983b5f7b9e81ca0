#pragma once

#include <QString>
#include <optional>
#include <stdexcept>

// An engine failure: what the engine refused and why. The message names the
// table file where one is involved, so the user can tell which file is at fault.
class EngineError : public std::runtime_error
{
public:
    explicit EngineError(const QString &message);
    QString message() const { return m_message; }

private:
    QString m_message;
};

// A server catalogue that asks for a password none was given for (neither
// in the address nor in libpq's password or service file): the windows ask
// the user for one and try again.
class PasswordNeeded : public EngineError
{
public:
    using EngineError::EngineError;
};

class DataSet;

// A post that found its record no longer as this desk read it: another desk
// changed it meanwhile, or deleted it. The record stays in edit with what was
// typed; the dataset that posted it offers the ways on (DataSet::saveMine,
// keepTheirs, saveAsNew), and the windows ask the user which to take.
class RecordConflict : public EngineError
{
public:
    RecordConflict(const QString &message, bool deleted, DataSet *dataSet = nullptr,
                   std::optional<qint64> movedTo = std::nullopt)
        : EngineError(message), m_deleted(deleted), m_dataSet(dataSet), m_movedTo(movedTo)
    {}
    bool deleted() const { return m_deleted; }
    DataSet *dataSet() const { return m_dataSet; }
    // The record's identity now, where the other desk's change gave it a new one.
    std::optional<qint64> movedTo() const { return m_movedTo; }

private:
    bool m_deleted;
    DataSet *m_dataSet;
    std::optional<qint64> m_movedTo;
};

// The silent abort: cancels the operation under way and is shown to nobody.
class EAbort : public std::exception
{
public:
    const char *what() const noexcept override { return "Operation aborted"; }
};

// Raises the silent abort.
[[noreturn]] void Abort();
