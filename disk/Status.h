#pragma once
// Status codes of the disk model and the conversion engine. 0 is success; the messages of the
// failures are in convert/StatusMessages.h.

namespace korvo {

enum Status : int {
    kStatusOk = 0,
    kStatusNotKorvoDisk = 1,
    kStatusCantReadDisk = 2,
    kStatusCantWriteDisk = 3,
    kStatusSongProtected = 4,
    kStatusFailedReadSongList = 5,
    kStatusFailedReadSong = 6,
    kStatusFailedWriteSong = 7,
    kStatusFailedReadTrack = 8,
    kStatusFailedWriteTrack = 9,
    kStatusFailedReadWave = 10,
    kStatusFailedWriteWave = 11,
    kStatusInvalidSongNumber = 12,
    kStatusNoFreeSpace = 13,
    kStatusChannelCountZero = 14,
    kStatusWrongSampleRate = 15,
    kStatusWaveTooShort = 16,
    kStatusCantCreateEvent = 17,
    kStatusEventFull = 18,
};

}  // namespace korvo
