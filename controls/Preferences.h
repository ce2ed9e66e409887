#pragma once
// The preference store: an INI file named after the application, beside the program file, or in
// the per-user configuration folder when the program's folder is not writable. Sections and keys
// are the ones the recorder program has always used: "Preference"/"KorvoDriveLetter" for the
// last recorder disk (here its root path), "Preferece"/"Directory", "File", "Filter" for the
// wave file dialogs.
//
//   setPreferenceFile(defaultPreferenceFile());
//   QString root = readPreference("Preference", "KorvoDriveLetter");
//   writePreference("Preference", "KorvoDriveLetter", converterRoot);

#include <QString>

namespace korvo {

inline constexpr const char* kPreferenceSection = "Preference";
inline constexpr const char* kDriveKey = "KorvoDriveLetter";
inline constexpr const char* kFileDialogSection = "Preferece";  // spelled so
inline constexpr const char* kDirectoryKey = "Directory";
inline constexpr const char* kFileKey = "File";
inline constexpr const char* kFilterKey = "Filter";

// "<program folder>/<application name>.ini", or the same name in the per-user configuration
// folder when the program folder is not writable.
QString defaultPreferenceFile();

void setPreferenceFile(const QString& path);
// The file in use; defaultPreferenceFile() until one is set.
QString preferenceFile();

QString readPreference(const QString& section, const QString& key,
                       const QString& fallback = QString());
// Nothing is written for an empty section or key.
void writePreference(const QString& section, const QString& key, const QString& value);

}  // namespace korvo
