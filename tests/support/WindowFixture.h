#pragma once

#include "Application.h"
#include "Catalogue.h"
#include "Dialogs.h"
#include "UData.h"

#include <QTemporaryDir>
#include <memory>

// What a window test stands on: a private catalogue that the alias points
// at, no stored settings, modal boxes answered by script and error boxes
// collected instead of shown.
class WindowFixture
{
public:
    std::unique_ptr<QTemporaryDir> dir;
    QStringList errors;

    void setUp()
    {
        dir = std::make_unique<QTemporaryDir>();
        TestCatalogue::pointAliasAt(dir->filePath("Data"));
        Dialogs::setScripted(true);
        errors.clear();
        Application::setErrorSink([this](const QString &m) { errors << m; });
    }

    void tearDown()
    {
        dir.reset();
        Dialogs::setScripted(false);
    }

    QString data(const QString &file) const { return dir->filePath("Data/" + file); }

    // Runs a statement through the data module's scratch query.
    static void run(const QString &sql)
    {
        dm->TMPQuery.setSql({sql});
        dm->TMPQuery.execSql();
    }
};
