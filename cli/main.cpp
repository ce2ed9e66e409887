#include <cstdio>
#include <cstring>

#include "app/Version.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("korvowav-cli %s\n", KORVOWAV_VERSION_STRING);
        return 0;
    }
    std::fprintf(stderr, "usage: korvowav-cli COMMAND DISK [OPTIONS]\n");
    return 64;
}
