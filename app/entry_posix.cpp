// The process entry on platforms without WinMain: hands the program its resource tables
// and the same four arguments WinMain would get.
#include "app/main_loop.h"
#include "app/module_resources_table.h"

int main() {
    platform::setModuleResources(&tabladexResources());
    char commandLine[] = "";
    return tabladexMain(GetModuleHandleA(nullptr), nullptr, commandLine, SW_SHOWNORMAL);
}
