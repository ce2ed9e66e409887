#pragma once
// What the wave file dialogs ask the track converter while the user picks a file: the wave's
// properties, the room a conversion needs, and free space. The main window hands the dialogs a
// CTrackConverterFacts over its track converter; tests hand them a double.

#include <cstdint>
#include <optional>
#include <string>

#include "wavefile/WaveFile.h"

namespace korvo {

class CTrackConverter;

class IConversionFacts {
public:
    virtual ~IConversionFacts() = default;

    // Free bytes on the recorder disk; nullopt when they cannot be learnt.
    virtual std::optional<std::uint64_t> recorderFreeBytes() = 0;
    // Free bytes for unprivileged callers under a host folder.
    virtual std::optional<std::uint64_t> folderFreeBytes(const std::string& folder) = 0;

    // Reads the wave's header as the import's input file; false when it cannot be read.
    virtual bool openInputWave(const std::string& path) = 0;
    virtual KorvoLib::Korvo::WaveFormat inputWave() const = 0;
    // The import's block range from the input wave, and the room it takes on the recorder disk.
    virtual void computeImportRange() = 0;
    virtual std::uint64_t neededDiskBytes() const = 0;
    // The size of the wave file an export of the current range would write.
    virtual std::uint64_t neededHostBytes(int fileType) const = 0;
    // The loaded song's sampling frequency; 0 when none is loaded.
    virtual std::uint32_t songSampleRate() const { return 0; }
};

class CTrackConverterFacts : public IConversionFacts {
public:
    explicit CTrackConverterFacts(CTrackConverter& converter) : converter_(converter) {}

    std::optional<std::uint64_t> recorderFreeBytes() override;
    std::optional<std::uint64_t> folderFreeBytes(const std::string& folder) override;
    bool openInputWave(const std::string& path) override;
    KorvoLib::Korvo::WaveFormat inputWave() const override;
    void computeImportRange() override;
    std::uint64_t neededDiskBytes() const override;
    std::uint64_t neededHostBytes(int fileType) const override;
    std::uint32_t songSampleRate() const override;

private:
    CTrackConverter& converter_;
};

}  // namespace korvo
