#pragma once

#include <QString>
#include <stdexcept>

// A file the program needed could not be created, read or written. The
// message names the file and the system's reason, so the error box tells the
// user what to fix.
class FileError : public std::runtime_error
{
public:
    explicit FileError(const QString &message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};
