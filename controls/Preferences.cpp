#include "controls/Preferences.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace korvo {

namespace {

QString& currentFile() {
    static QString file;
    return file;
}

}  // namespace

QString defaultPreferenceFile() {
    const QString name = QCoreApplication::applicationName() + ".ini";
    const QString programFolder = QCoreApplication::applicationDirPath();
    const QFileInfo folder(programFolder);
    if (!programFolder.isEmpty() && folder.isDir() && folder.isWritable()) {
        return QDir(programFolder).filePath(name);
    }
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(config);
    return QDir(config).filePath(name);
}

void setPreferenceFile(const QString& path) {
    currentFile() = path;
}

QString preferenceFile() {
    if (currentFile().isEmpty()) {
        currentFile() = defaultPreferenceFile();
    }
    return currentFile();
}

QString readPreference(const QString& section, const QString& key, const QString& fallback) {
    if (section.isEmpty() || key.isEmpty()) {
        return fallback;
    }
    const QSettings settings(preferenceFile(), QSettings::IniFormat);
    return settings.value(section + "/" + key, fallback).toString();
}

void writePreference(const QString& section, const QString& key, const QString& value) {
    if (section.isEmpty() || key.isEmpty()) {
        return;
    }
    QSettings settings(preferenceFile(), QSettings::IniFormat);
    settings.setValue(section + "/" + key, value);
    settings.sync();
}

}  // namespace korvo
