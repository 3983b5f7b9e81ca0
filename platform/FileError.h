#pragma once

#include <QString>
#include <stdexcept>

// A file the program needed could not be created, read or written. The
// message names the file and the reason, so the error box tells the user
// what to fix.
class FileError : public std::runtime_error
{
public:
    explicit FileError(const QString &message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// Why a file the user named could not be read or created, as "<file>: <why>"
// in Russian: what the file system shows about it ("файл не найден", "нет прав
// на запись в папку ..."), or, when it shows nothing wrong, the system's own
// reason in brackets.
QString cannotRead(const QString &path, const QString &systemReason);
QString cannotCreate(const QString &path, const QString &systemReason);
