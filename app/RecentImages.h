#pragma once
// The disk images the user opened, newest first, kept in the preference file so that the drive
// list offers them again, also while the disk they live on is unplugged. An image that fails to
// open when chosen leaves the list.
//
//   rememberImage(path);            // after it opened as a recorder disk
//   forgetImage(path);              // after it failed to open
//   for (const QString& image : recentImages()) list(image);

#include <QString>
#include <QStringList>

namespace korvo {

inline constexpr int kRecentImageCount = 8;

QStringList recentImages();
void rememberImage(const QString& path);
void forgetImage(const QString& path);

}  // namespace korvo
