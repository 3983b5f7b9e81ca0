#pragma once

#include "Application.h"
#include "Catalogue.h"
#include "Dialogs.h"
#include "RecordingUi.h"
#include "UData.h"

#include <QTest>
#include <memory>

// What the window tests share: a private catalogue of the kind the tests run
// on, the alias pointing at it, a data module opened on it, scripted boxes,
// and every error box caught.
class WindowTest : public QObject
{
protected:
    std::unique_ptr<TestCatalogue::Place> m_place;
    RecordingUi m_ui;
    std::unique_ptr<Tdm> m_dm;
    QStringList m_errors;

    QString stored(const QString &table, const QString &sql) const
    {
        return m_place->stored(table, sql);
    }

    // A file in the folder of a folder catalogue.
    QString data(const QString &file = {}) const { return m_place->location() + '/' + file; }

    void run(const QString &sql)
    {
        dm->TMPQuery.setSql({sql});
        dm->TMPQuery.execSql();
    }

    // Call from the test's init().
    void startTest()
    {
        m_place = std::make_unique<TestCatalogue::Place>();
        TestCatalogue::pointAliasAt(m_place->location());
        m_ui = RecordingUi();
        Dialogs::setScripted(true);
        m_errors.clear();
        Application::setErrorSink([this](const QString &m) { m_errors << m; });
    }

    // Makes the tables, runs `fill` on them, then opens every dataset anew.
    void openCatalogue(const std::function<void()> &fill)
    {
        m_dm = std::make_unique<Tdm>(m_ui);
        m_dm->DataModuleCreate();
        fill();
        m_dm->closeDataSets();
        m_dm->openDataSets();
    }

    // Call from the test's cleanup(), after its windows are gone.
    void endTest()
    {
        m_dm.reset();
        m_place.reset();
        Dialogs::setScripted(false);
        QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    }
};
