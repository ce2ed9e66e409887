#include "cli/Commands.h"

int main(int argc, char** argv) {
    return korvo::cli::run(argc, argv);
}
