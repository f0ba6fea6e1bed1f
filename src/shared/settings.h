// The tool's INI-style settings files: quoted string values by group and key. Problems are logged as
// warnings and never abort the caller: lookups fall back to their defaults, and a damaged file keeps
// the entries read before the damaged line.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

namespace Tarvin {

class Settings {
public:
    // A file of the installation scope ($TARVIN_PREFIX/etc): 0 tarvin.ini, 1 paths.ini.
    explicit Settings(int file);
    Settings(const QString& directory, const QString& fileName);
    ~Settings();

    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    QString value(const QString& group, const QString& key, const QString& defaultValue) const;
    QStringList childKeys(const QString& group, const QString& prefix) const;

    void parse();
    bool flush();

    bool unquoteString(QString& text) const;
    bool unquoteStringList(const QString& text, QStringList& out) const;

    QString filePath() const { return path; }
    bool isModified() const { return modified; }

    // The installation scope's directory and its file names.
    static QString installationDirectory();
    static QString installationFileName(int file);

private:
    using Group = QMap<QString, QString>; // key -> raw value text
    QMap<QString, Group> groups;
    QString path;
    bool modified = false;
};

} // namespace Tarvin
