#pragma once

#include "Application.h"
#include "Catalogue.h"
#include "Dialogs.h"
#include "RecordingUi.h"
#include "UData.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>

// What the window tests share: a private catalogue the alias points at, a
// data module opened on it, scripted boxes, and every error box caught.
class WindowTest : public QObject
{
protected:
    std::unique_ptr<QTemporaryDir> m_dir;
    RecordingUi m_ui;
    std::unique_ptr<Tdm> m_dm;
    QStringList m_errors;

    QString data(const QString &file = {}) const { return m_dir->filePath("Data/" + file); }

    void run(const QString &sql)
    {
        dm->TMPQuery.setSql({sql});
        dm->TMPQuery.execSql();
    }

    // Call from the test's init().
    void startTest()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        TestCatalogue::pointAliasAt(data().chopped(1));
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
        m_dir.reset();
        Dialogs::setScripted(false);
        QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    }
};
