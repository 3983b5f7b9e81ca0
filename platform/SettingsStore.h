#pragma once

#include <QList>
#include <QString>
#include <optional>
#include <variant>

// A value of the settings store keeps its kind, as a registry value did: a
// string or a 32-bit number.
using SettingValue = std::variant<QString, qint32>;

// The current user's settings key "Software\Pelorin": the INI-style file
// $XDG_CONFIG_HOME/Pelorin/settings.ini, one [section] per subkey. Strings are
// written in double quotes (with \" and \\ escaped), 32-bit numbers as
// dword:XXXXXXXX in hexadecimal:
//
//   [Quillon]
//   CheckOnLoad="1"
//   PackOnCheck=dword:00000000
//
// Section and value names are matched without regard to case. Lines starting
// with ';' or '#' are comments.
class RegistryKey
{
public:
    // Opens the key, creating it (its folder and an empty file) when missing.
    // Never throws: a file that cannot be read or parsed leaves the key empty,
    // so every read gives its default, and error() tells why.
    explicit RegistryKey(const QString &filePath = defaultFilePath());

    static QString defaultFilePath();

    // Why the stored values could not be read; empty when they could.
    QString error() const { return m_error; }

    // The value as a number: a string taken as a decimal integer, a number as
    // itself. The default for a missing section or value or a string that is
    // no decimal 32-bit integer.
    qint32 readInteger(const QString &section, const QString &name, qint32 defaultValue) const;

    // The string values of a section in the order they are stored; numbers
    // are left out.
    QList<std::pair<QString, QString>> readStrings(const QString &section) const;
    // Replaces every value of a section with `values` (strings), in one write.
    // Throws FileError when the file cannot be written.
    void replaceStrings(const QString &section, const QList<std::pair<QString, QString>> &values);

    // Stores a string value at once, creating the section when missing. A
    // file that could not be read is first kept beside as "<file>.damaged".
    // Throws FileError when the file cannot be written.
    void writeString(const QString &section, const QString &name, const QString &value);

private:
    struct Entry
    {
        QString section;
        QString name;
        SettingValue value;
    };

    void load();
    void markUnreadable(const QString &reason);
    qsizetype indexOf(const QString &section, const QString &name) const;
    void save();

    QString m_filePath;
    QList<Entry> m_entries;
    QString m_error;
    bool m_damaged = false;
};

// The section of the current user's key that holds the program's settings.
inline constexpr char SettingsSection[] = "Quillon";

// Reads a setting of the program's section as a boolean: any non-zero number
// is true. `problem` receives why the stored settings could not be read
// (empty when they could); the default is then returned.
bool readBoolSetting(const QString &name, bool defaultValue, QString *problem = nullptr);

// Stores a setting of the program's section as the string "1" or "0".
// Throws FileError when it cannot be stored.
void writeBoolSetting(const QString &name, bool value);

// Where the program's windows were left, kept between starts apart from the
// settings: $XDG_CONFIG_HOME/Quillon/windows.ini.
QString windowPlacesFilePath();
