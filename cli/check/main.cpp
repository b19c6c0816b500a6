// tabladex-check: names every problem in rhythm and playlist files (see check_program.h).
#include <cstdio>
#include <string>
#include <vector>

#include "cli/check/check_program.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return runCheck(args, stdout, stderr);
}
