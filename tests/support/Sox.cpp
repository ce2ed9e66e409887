#include "tests/support/Sox.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/support/Processes.h"

namespace korvo::test {
namespace {

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

bool run(const std::string& command) {
    return runShell(command + " 2>/dev/null").status == 0;
}

std::optional<std::string> output(const std::string& command) {
    ShellResult ran = runShell(command + " 2>/dev/null");
    if (ran.status != 0) {
        return std::nullopt;
    }
    return std::move(ran.output);
}

const char* kRawFormat = " -t raw -e signed-integer -b 16 -L ";

}  // namespace

bool soxAvailable() {
    static const bool available =
        run("command -v sox >/dev/null && command -v soxi >/dev/null && sox --version >/dev/null");
    return available;
}

bool soxWrite(const std::string& path, int channels, long sampleRate,
              const std::vector<std::int16_t>& interleaved,
              const std::vector<std::string>& outputOptions) {
    const std::string raw = path + ".raw";
    {
        std::ofstream out(raw, std::ios::binary | std::ios::trunc);
        for (std::int16_t sample : interleaved) {
            const auto value = static_cast<std::uint16_t>(sample);
            const char bytes[2] = {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
            out.write(bytes, 2);
        }
        if (!out) {
            return false;
        }
    }
    std::string command = "sox -D" + std::string(kRawFormat) + "-r " +
                          std::to_string(sampleRate) + " -c " + std::to_string(channels) + " " +
                          quoted(raw);
    for (const std::string& option : outputOptions) {
        command += " " + quoted(option);
    }
    command += " " + quoted(path);
    const bool ok = run(command);
    std::remove(raw.c_str());
    return ok;
}

std::optional<SoxInfo> soxInfo(const std::string& path) {
    const std::string p = quoted(path);
    const auto text = output("soxi -c " + p + " && soxi -r " + p + " && soxi -s " + p +
                             " && soxi -b " + p + " && soxi -t " + p);
    if (!text) {
        return std::nullopt;
    }
    std::istringstream lines(*text);
    SoxInfo info;
    if (!(lines >> info.channels >> info.sampleRate >> info.frames >> info.bits >> info.type)) {
        return std::nullopt;
    }
    return info;
}

std::optional<std::vector<std::int16_t>> soxReadSamples(const std::string& path) {
    const std::string raw = path + ".raw";
    if (!run("sox -D " + quoted(path) + kRawFormat + quoted(raw))) {
        std::remove(raw.c_str());
        return std::nullopt;
    }
    std::ifstream in(raw, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(raw.c_str());
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto low = static_cast<std::uint8_t>(bytes[2 * i]);
        const auto high = static_cast<std::uint8_t>(bytes[2 * i + 1]);
        samples[i] = static_cast<std::int16_t>(low | (high << 8));
    }
    return samples;
}

}  // namespace korvo::test
