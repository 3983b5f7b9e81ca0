#pragma once

#include "StorageUi.h"

#include <QStringList>

// What a check or pack started from the options window did. The verifier's
// reports go on to the splash window as they come; the report keeps what
// was checked, created, changed and packed, and says it in a few words at
// the end.
class CheckReport : public StorageUi
{
public:
    explicit CheckReport(StorageUi &shown) : m_shown(shown) {}

    bool confirm(const QString &question) override { return m_shown.confirm(question); }
    void message(const QString &text) override { m_shown.message(text); }
    void setStatus(const QString &text) override { m_shown.setStatus(text); }
    void startProgress(int maximum) override;
    void setTableCaption(const QString &caption) override { m_shown.setTableCaption(caption); }
    void stepProgress() override { m_shown.stepProgress(); }
    void keepAlive() override { m_shown.keepAlive(); }
    void tableChanged(const QString &table, bool created) override;
    void tablePacked(const QString &table, qint64 before, qint64 after) override;

    // "Проверка закончена. Проверено таблиц: 10. …" after a check,
    // "Сжатие закончено. …" after a pack alone.
    QString summary(bool checked) const;

private:
    QString packedText() const;

    StorageUi &m_shown;
    int m_tables = 0;
    QStringList m_created, m_changed;
    int m_packed = 0;
    qint64 m_freed = 0;
};
