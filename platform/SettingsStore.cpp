#include "SettingsStore.h"

#include "FileError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>

namespace {

const QLatin1String NumberPrefix("dword:");

// One line of the file, or why it is no valid line.
struct ParsedLine
{
    enum Kind
    {
        Blank,
        Section,
        Value,
        Damaged
    } kind = Blank;
    QString name;
    SettingValue value;
};

std::optional<QString> unquoted(QStringView text)
{
    if (text.size() < 2 || !text.startsWith(u'"') || !text.endsWith(u'"'))
        return std::nullopt;
    QString value;
    const QStringView inner = text.mid(1, text.size() - 2);
    for (qsizetype i = 0; i < inner.size(); ++i) {
        QChar c = inner[i];
        if (c == u'"')
            return std::nullopt;
        if (c == u'\\') {
            if (++i == inner.size() || (inner[i] != u'"' && inner[i] != u'\\'))
                return std::nullopt;
            c = inner[i];
        }
        value += c;
    }
    return value;
}

std::optional<qint32> number(QStringView text)
{
    if (!text.startsWith(NumberPrefix))
        return std::nullopt;
    const QStringView digits = text.mid(NumberPrefix.size());
    bool ok = false;
    const uint value = digits.toUInt(&ok, 16);
    if (!ok || digits.isEmpty() || digits.size() > 8)
        return std::nullopt;
    return static_cast<qint32>(value);
}

ParsedLine parseLine(QStringView line)
{
    line = line.trimmed();
    if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
        return {};
    if (line.startsWith(u'[') && line.endsWith(u']') && line.size() > 2)
        return {ParsedLine::Section, line.mid(1, line.size() - 2).trimmed().toString(), {}};
    const qsizetype equals = line.indexOf(u'=');
    const QStringView name = equals > 0 ? line.left(equals).trimmed() : QStringView();
    const QStringView text = line.mid(equals + 1).trimmed();
    if (name.isEmpty())
        return {ParsedLine::Damaged, {}, {}};
    if (const auto string = unquoted(text))
        return {ParsedLine::Value, name.toString(), *string};
    if (const auto value = number(text))
        return {ParsedLine::Value, name.toString(), *value};
    return {ParsedLine::Damaged, {}, {}};
}

QString quoted(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    escaped.replace(QLatin1String("\""), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QString written(const SettingValue &value)
{
    if (const auto *text = std::get_if<QString>(&value))
        return quoted(*text);
    return NumberPrefix + QStringLiteral("%1").arg(static_cast<quint32>(std::get<qint32>(value)), 8,
                                                   16, QLatin1Char('0'));
}

// A string value is read as a decimal integer, as the classic settings reader
// did; anything else in it gives nothing.
std::optional<qint32> asInteger(const SettingValue &value)
{
    if (const auto *number = std::get_if<qint32>(&value))
        return *number;
    bool ok = false;
    const qint32 parsed = std::get<QString>(value).toInt(&ok, 10);
    return ok ? std::optional<qint32>(parsed) : std::nullopt;
}

bool ensureFileExists(const QString &filePath, QString &error)
{
    if (QFileInfo::exists(filePath))
        return true;
    QFile file(filePath);
    if (QDir().mkpath(QFileInfo(filePath).absolutePath()) && file.open(QIODevice::WriteOnly))
        return true;
    error = QStringLiteral("Не удаётся создать файл настроек \"%1\" (%2)")
                .arg(filePath, file.errorString());
    return false;
}

} // namespace

RegistryKey::RegistryKey(const QString &filePath) : m_filePath(filePath)
{
    if (ensureFileExists(m_filePath, m_error))
        load();
}

QString RegistryKey::defaultFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Pelorin/settings.ini");
}

QString windowPlacesFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quillon/windows.ini");
}

void RegistryKey::load()
{
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return markUnreadable(file.errorString());
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(file.readAll());
    if (decoder.hasError())
        return markUnreadable(QStringLiteral("это не текст в UTF-8"));
    const QStringList lines = text.split(QLatin1Char('\n'));
    QString section;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const ParsedLine line = parseLine(lines[i]);
        if (line.kind == ParsedLine::Damaged ||
            (line.kind == ParsedLine::Value && section.isEmpty()))
            return markUnreadable(QStringLiteral("строка %1 повреждена").arg(i + 1));
        if (line.kind == ParsedLine::Section)
            section = line.name;
        else if (line.kind == ParsedLine::Value)
            m_entries.append({section, line.name, line.value});
    }
}

void RegistryKey::markUnreadable(const QString &reason)
{
    m_entries.clear();
    m_damaged = true;
    m_error = QStringLiteral("Не удаётся прочитать файл настроек \"%1\" (%2). Используются "
                             "настройки по умолчанию.")
                  .arg(m_filePath, reason);
}

qsizetype RegistryKey::indexOf(const QString &section, const QString &name) const
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].section.compare(section, Qt::CaseInsensitive) == 0 &&
            m_entries[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

qint32 RegistryKey::readInteger(const QString &section, const QString &name,
                                qint32 defaultValue) const
{
    const qsizetype index = indexOf(section, name);
    return index < 0 ? defaultValue : asInteger(m_entries[index].value).value_or(defaultValue);
}

QList<std::pair<QString, QString>> RegistryKey::readStrings(const QString &section) const
{
    QList<std::pair<QString, QString>> values;
    for (const Entry &entry : m_entries) {
        const auto *text = std::get_if<QString>(&entry.value);
        if (text && entry.section.compare(section, Qt::CaseInsensitive) == 0)
            values.append({entry.name, *text});
    }
    return values;
}

void RegistryKey::replaceStrings(const QString &section,
                                 const QList<std::pair<QString, QString>> &values)
{
    m_entries.removeIf([&section](const Entry &entry) {
        return entry.section.compare(section, Qt::CaseInsensitive) == 0;
    });
    for (const auto &[name, value] : values)
        m_entries.append({section, name, value});
    save();
}

void RegistryKey::writeString(const QString &section, const QString &name, const QString &value)
{
    if (const qsizetype index = indexOf(section, name); index >= 0)
        m_entries[index].value = value;
    else
        m_entries.append({section, name, value});
    save();
}

void RegistryKey::save()
{
    QStringList sections;
    for (const Entry &entry : m_entries) {
        if (!sections.contains(entry.section, Qt::CaseInsensitive))
            sections << entry.section;
    }
    QString text;
    for (const QString &section : sections) {
        text += QStringLiteral("[%1]\n").arg(section);
        for (const Entry &entry : m_entries) {
            if (entry.section.compare(section, Qt::CaseInsensitive) == 0)
                text += entry.name + QLatin1Char('=') + written(entry.value) + QLatin1Char('\n');
        }
    }
    // A file that could not be read may still hold what its owner wants
    // back: it is kept beside the new one instead of being overwritten.
    if (m_damaged) {
        const QString kept = m_filePath + QStringLiteral(".damaged");
        QFile::remove(kept);
        QFile::rename(m_filePath, kept);
        m_damaged = false;
    }
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit())
        throw FileError(QStringLiteral("Не удаётся сохранить настройки в \"%1\" (%2)")
                            .arg(m_filePath, file.errorString()));
}

bool readBoolSetting(const QString &name, bool defaultValue, QString *problem)
{
    const RegistryKey key;
    if (problem)
        *problem = key.error();
    return key.readInteger(QLatin1String(SettingsSection), name, defaultValue ? 1 : 0) != 0;
}

void writeBoolSetting(const QString &name, bool value)
{
    RegistryKey key;
    key.writeString(QLatin1String(SettingsSection), name,
                    value ? QStringLiteral("1") : QStringLiteral("0"));
}
