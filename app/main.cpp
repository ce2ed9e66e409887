#include <iostream>
#include <string_view>

#include "app/KorvoWavApp.h"
#include "convert/Version.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: korvowav [OPTIONS]\n"
    "\n"
    "The desktop program: pick a recorder disk, a song and one or two virtual tracks, then\n"
    "export them into a wave file or import a wave file into them.\n"
    "\n"
    "Options:\n"
    "  -h,--help                   Print this help message and exit\n"
    "  --version                   Display program version information and exit\n"
    "\n"
    "Qt's standard options, such as -platform NAME, are accepted too.\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered before the window system is reached, so that they work without a display.
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "-h" || argument == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (argument == "--version") {
            std::cout << "korvowav " << KORVOWAV_VERSION_STRING << '\n';
            return 0;
        }
    }
    korvo::CKorvoWavApp app(argc, argv);
    return app.run();
}
