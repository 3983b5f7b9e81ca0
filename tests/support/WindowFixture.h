#pragma once

#include "Application.h"
#include "Catalogue.h"
#include "Dialogs.h"
#include "UData.h"

#include <memory>

// What a window test stands on: a private catalogue of the kind the tests run
// on that the alias points at, no stored settings, modal boxes answered by
// script and error boxes collected instead of shown.
class WindowFixture
{
public:
    std::unique_ptr<TestCatalogue::Place> place;
    QStringList errors;

    void setUp()
    {
        place = std::make_unique<TestCatalogue::Place>();
        TestCatalogue::pointAliasAt(place->location());
        Dialogs::setScripted(true);
        errors.clear();
        Application::setErrorSink([this](const QString &m) { errors << m; });
    }

    void tearDown()
    {
        place.reset();
        Dialogs::setScripted(false);
    }

    QString stored(const QString &table, const QString &sql) const
    {
        return place->stored(table, sql);
    }

    // A file in the folder of a folder catalogue.
    QString data(const QString &file = {}) const { return place->location() + '/' + file; }

    // Runs a statement through the data module's scratch query.
    static void run(const QString &sql)
    {
        dm->TMPQuery.setSql({sql});
        dm->TMPQuery.execSql();
    }
};
