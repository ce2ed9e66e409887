#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Console.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments = korvo::cli::utf8Arguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    return korvo::cli::run(static_cast<int>(arguments.size()), pointers.data());
}
