#include "WorkbookZip.h"

#include "FileError.h"

#include <QXmlStreamReader>

WorkbookZip::WorkbookZip(const QString &path, TableBuilder &builder, const ReadLimits &limits)
    : m_zip(path, maxParts), m_builder(builder), m_limits(limits)
{}

QByteArray WorkbookZip::part(const QString &name) const
{
    const int index = m_zip.indexOf(name);
    if (index < 0)
        throw FileError(QStringLiteral("в книге нет части ") + name);
    QByteArray bytes = m_zip.readAll(index, m_limits.maxPartBytes);
    m_builder.checkDeadline();
    return bytes;
}

bool WorkbookZip::next(QXmlStreamReader &xml) const
{
    m_builder.checkTime();
    xml.readNext();
    if (xml.hasError())
        throw FileError(QStringLiteral("книга повреждена (") + xml.errorString() + ')');
    return !xml.atEnd();
}

QString WorkbookZip::elementText(QXmlStreamReader &xml) const
{
    QString text;
    int depth = 1;
    while (depth > 0 && next(xml)) {
        if (xml.isStartElement())
            ++depth;
        else if (xml.isEndElement())
            --depth;
        else if (xml.isCharacters())
            text += xml.text();
    }
    return text;
}
