#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

inline QString readTextFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A desktop of the test's own: the system's MIME database and only the
// applications that the test installs, registered as defaults in a private
// configuration. It must exist before the first file-type lookup of the
// process, since the desktop's registry is read once.
class TestDesktop
{
public:
    TestDesktop()
    {
        QDir().mkpath(path("system"));
        QFile::link(QStringLiteral("/usr/share/mime"), path("system/mime"));
        QDir().mkpath(path("home/applications"));
        QDir().mkpath(path("config"));
        qputenv("XDG_DATA_DIRS", path("system").toLocal8Bit());
        qputenv("XDG_DATA_HOME", path("home").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", path("config").toLocal8Bit());
        qputenv("XDG_CONFIG_DIRS", path("config-system").toLocal8Bit());
    }

    QString path(const QString &relative) const { return m_root.filePath(relative); }

    // Installs a program that waits a little, then writes its arguments, one
    // a line, into the file `ran-<id>`; its desktop entry runs it with `exec`
    // and makes it the default for the types. Returns the program's path.
    QString installProgram(const QString &id, const QString &exec, const QStringList &types)
    {
        const QString program = path(id + ".sh");
        writeFile(program, QStringLiteral("#!/bin/sh\nsleep 0.3\nprintf '%s\\n' \"$@\" > '%1'\n")
                               .arg(path("ran-" + id)));
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        writeFile(path("home/applications/" + id + ".desktop"),
                  QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=%2 %3\n"
                                 "MimeType=%4;\n")
                      .arg(id, program, exec, types.join(';')));
        for (const QString &type : types)
            m_defaults += type + '=' + id + ".desktop\n";
        writeFile(path("config/mimeapps.list"), "[Default Applications]\n" + m_defaults);
        return program;
    }

private:
    static void writeFile(const QString &name, const QString &text)
    {
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
    }

    QTemporaryDir m_root;
    QString m_defaults;
};
