#include "app/RecentImages.h"

#include "controls/Preferences.h"

namespace korvo {

namespace {

// "RecentImage1" .. "RecentImage8" under "Preference".
QString recentKey(int index) {
    return QString("RecentImage%1").arg(index + 1);
}

void storeImages(const QStringList& images) {
    for (int i = 0; i < kRecentImageCount; ++i) {
        writePreference(kPreferenceSection, recentKey(i),
                        i < images.size() ? images[i] : QString());
    }
}

}  // namespace

QStringList recentImages() {
    QStringList images;
    for (int i = 0; i < kRecentImageCount; ++i) {
        const QString image = readPreference(kPreferenceSection, recentKey(i));
        if (!image.isEmpty() && !images.contains(image)) {
            images << image;
        }
    }
    return images;
}

void rememberImage(const QString& path) {
    QStringList images = recentImages();
    images.removeAll(path);
    images.prepend(path);
    storeImages(images.mid(0, kRecentImageCount));
}

void forgetImage(const QString& path) {
    QStringList images = recentImages();
    if (images.removeAll(path) > 0) {
        storeImages(images);
    }
}

}  // namespace korvo
