#pragma once
// The file names of "Export all...": every virtual track that holds data goes into its own mono
// wave file in one folder, named "T.V NAME.wav" as the command line's export-all names it, all
// starting at block 0 so that they line up in an editor.
//
//   for (int v : tracksWithData(song)) export(v, folder + '/' + exportAllFileName(song, v));

#include <QString>

#include <vector>

#include "disk/Song.h"

namespace korvo {

// "T.V NAME.wav" (or ".aif"), with the characters a host file name cannot hold as '_'.
QString exportAllFileName(const CSong& song, int virtualTrack, const QString& extension = ".wav");
std::vector<int> tracksWithData(const CSong& song);

}  // namespace korvo
