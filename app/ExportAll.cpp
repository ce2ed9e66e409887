#include "app/ExportAll.h"

namespace korvo {

QString exportAllFileName(const CSong& song, int virtualTrack, const QString& extension) {
    const std::string& stored = song.name(virtualTrack);
    const QString name = QString::fromLatin1(stored.substr(0, stored.find('\0')).c_str());
    QString file = QString("%1.%2 %3%4")
                       .arg(trackOf(virtualTrack))
                       .arg(vtrackOf(virtualTrack))
                       .arg(name, extension);
    for (QChar& c : file) {
        const char16_t code = c.unicode();
        if (code < 0x20 || code == 0x7F || QStringView(u"/\\:*?\"<>|").contains(c)) {
            c = '_';
        }
    }
    return file;
}

std::vector<int> tracksWithData(const CSong& song) {
    std::vector<int> tracks;
    for (int v = 0; v < kVirtualTracks; ++v) {
        if (song.used(v)) {
            tracks.push_back(v);
        }
    }
    return tracks;
}

}  // namespace korvo
