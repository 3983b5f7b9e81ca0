#include "CheckReport.h"

#include <QLocale>

void CheckReport::startProgress(int maximum)
{
    m_tables = maximum;
    m_shown.startProgress(maximum);
}

void CheckReport::tableChanged(const QString &table, bool created)
{
    (created ? m_created : m_changed) << table;
}

void CheckReport::tablePacked(const QString &, qint64 before, qint64 after)
{
    ++m_packed;
    m_freed += std::max<qint64>(0, before - after);
}

QString CheckReport::packedText() const
{
    // Below a kilobyte the traditional format would count bytes in the wrong case.
    constexpr qint64 kilobyte = 1024;
    const QString freed =
        m_freed == 0 ? QStringLiteral("место не освободилось")
        : m_freed < kilobyte
            ? QStringLiteral("освобождено меньше 1 кБ")
            : QStringLiteral("освобождено ") +
                  QLocale(QLocale::Russian)
                      .formattedDataSize(m_freed, 1, QLocale::DataSizeTraditionalFormat);
    return QStringLiteral("Сжато таблиц: %1, %2.").arg(m_packed).arg(freed);
}

QString CheckReport::summary(bool checked) const
{
    if (!checked)
        return QStringLiteral("Сжатие закончено. ") + packedText();
    QString text = QStringLiteral("Проверка закончена. Проверено таблиц: %1.").arg(m_tables);
    if (m_created.isEmpty() && m_changed.isEmpty())
        text += QStringLiteral(" Менять ничего не понадобилось.");
    if (!m_created.isEmpty())
        text += QStringLiteral(" Созданы: ") + m_created.join(QStringLiteral(", ")) + u'.';
    if (!m_changed.isEmpty())
        text +=
            QStringLiteral(" Изменена структура: ") + m_changed.join(QStringLiteral(", ")) + u'.';
    if (m_packed > 0)
        text += u' ' + packedText();
    return text;
}
