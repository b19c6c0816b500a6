// The process entry on platforms without WinMain: hands the program its resource tables
// and its arguments (the first, a rhythm file or a playlist, is opened at start).
#include <string>
#include <vector>

#include "app/main_loop.h"
#include "app/module_resources_table.h"

int main(int argc, char** argv) {
    platform::setModuleResources(&tabladexResources());
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    return runTabladex(GetModuleHandleA(nullptr), arguments);
}
