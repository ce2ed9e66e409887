#include "app/ExportAll.h"

#include "convert/TrackNames.h"

namespace korvo {

QString exportAllFileName(const CSong& song, int virtualTrack, const QString& extension) {
    return QString::fromLatin1(
        korvo::exportAllFileName(song, virtualTrack, extension.toStdString()).c_str());
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
