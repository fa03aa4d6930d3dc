#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CommandLineTool.h"

int main(int argc, char** argv) {
    // The report's numbers always use a "." separator, whatever the environment says.
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    std::vector<std::string> arguments(argv, argv + argc);
    return pelora::cli::run(arguments, std::cout, std::cerr);
}
