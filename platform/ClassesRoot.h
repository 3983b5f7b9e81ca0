#pragma once

#include <QHash>
#include <QString>
#include <optional>

// A read-only view of the desktop's file types, keyed as the classic
// file-type registry was:
//   ".ext"                      -> the file type name ("application/pdf")
//   "type\shell\open\command"   -> the open command line, its file placeholder
//                                  written as "%1"
//   "type\DefaultIcon"          -> "icon source,index"
// Key paths may start with a backslash (an absolute path from the root) and
// are matched without regard to case.
class ClassesRoot
{
public:
    virtual ~ClassesRoot() = default;

    // The default value of the key, unchanged; an empty text when the key has
    // no value; nothing when the key does not exist.
    virtual std::optional<QString> readDefault(const QString &keyPath) const = 0;

    // The default value, or an empty text when the key or its value is missing.
    QString readDefaultOrEmpty(const QString &keyPath) const;
};

// The view over the real desktop: the MIME database, the default
// applications and their .desktop entries, and the types' theme icons.
//
// The icon source of "type\DefaultIcon" is the type's theme icon names joined
// by ';' (most specific first), with the index 0: "application-pdf;x-office-document,0".
class GioClassesRoot : public ClassesRoot
{
public:
    std::optional<QString> readDefault(const QString &keyPath) const override;
};

// The view that the program uses: the real desktop's.
const ClassesRoot &desktopClassesRoot();

// A view held in memory, for tests and for callers that want a fixed table.
class MemoryClassesRoot : public ClassesRoot
{
public:
    std::optional<QString> readDefault(const QString &keyPath) const override;

    // Creates the key (and so every key on its path) with the given default value.
    void setDefault(const QString &keyPath, const QString &value);
    // Creates the key without a default value.
    void addKey(const QString &keyPath);

private:
    QHash<QString, QString> m_values;
};
