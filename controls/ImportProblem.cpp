#include "controls/ImportProblem.h"

#include <QFile>

#include <cmath>

#include "wavefile/ByteOrder.h"
#include "wavefile/ExtendedFloat.h"

namespace korvo {

namespace {

// The byte at an offset of the header, for the shared byte-order readers.
const std::uint8_t* bytesAt(const QByteArray& bytes, qsizetype offset) {
    return reinterpret_cast<const std::uint8_t*>(bytes.constData()) + offset;
}

struct HeaderFacts {
    bool pcm = true;
    int formatTag = 1;
    int bits = 0;
    std::uint32_t rate = 0;
    int channels = 0;
};

QString judged(const HeaderFacts& facts, std::uint32_t songRate) {
    if (!facts.pcm) {
        return QString("Compressed or floating-point samples (format %1); 16-bit PCM needed")
            .arg(facts.formatTag);
    }
    if (facts.bits != 16) {
        return QString("%1-bit samples; 16-bit needed").arg(facts.bits);
    }
    if (facts.channels == 0) {
        return "No channels";
    }
    if (songRate != 0 && facts.rate != songRate) {
        return QString("%1 Hz; the song needs %2 Hz").arg(facts.rate).arg(songRate);
    }
    return {};
}

}  // namespace

QString importProblem(const QString& path, std::uint32_t songRate) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return "Cannot be read";
    }
    // The format chunk sits near the start of any file worth importing.
    const QByteArray head = file.read(64 * 1024);
    const QByteArray kind = head.left(4);
    const bool riff = kind == "RIFF" && head.mid(8, 4) == "WAVE";
    const bool aiff = kind == "FORM" && (head.mid(8, 4) == "AIFF" || head.mid(8, 4) == "AIFC");
    if (!riff && !aiff) {
        return "Not a WAV or AIFF file";
    }
    for (qsizetype at = 12; at + 8 <= head.size();) {
        const QByteArray id = head.mid(at, 4);
        const std::uint32_t size = KorvoLib::loadU32(
            bytesAt(head, at + 4), riff ? KorvoLib::ByteOrder::kLittle : KorvoLib::ByteOrder::kBig);
        const qsizetype body = at + 8;
        HeaderFacts facts;
        if (riff && id == "fmt " && body + 16 <= head.size()) {
            facts.formatTag = readLittleEndian16(bytesAt(head, body));
            facts.channels = readLittleEndian16(bytesAt(head, body + 2));
            facts.rate = readLittleEndian32(bytesAt(head, body + 4));
            facts.bits = readLittleEndian16(bytesAt(head, body + 14));
            facts.pcm = facts.formatTag == 1 || facts.formatTag == 0xFFFE;
            return judged(facts, songRate);
        }
        if (aiff && id == "COMM" && body + 18 <= head.size()) {
            facts.channels = readBigEndian16(bytesAt(head, body));
            facts.bits = readBigEndian16(bytesAt(head, body + 6));
            const double rate = KorvoLib::fromExtended(bytesAt(head, body + 8));
            facts.rate = std::isfinite(rate) && rate > 0 && rate < 1e7
                             ? static_cast<std::uint32_t>(std::lround(rate))
                             : 0;
            facts.pcm = head.mid(8, 4) == "AIFF" ||
                        (body + 22 <= head.size() &&
                         (head.mid(body + 18, 4) == "NONE" || head.mid(body + 18, 4) == "twos"));
            return judged(facts, songRate);
        }
        at = body + static_cast<qsizetype>(size) + (size & 1);
        if (size > static_cast<std::uint32_t>(head.size())) {
            break;
        }
    }
    return "No format description in the first 64 KiB";
}

}  // namespace korvo
