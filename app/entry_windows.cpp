// The process entry on Windows.
#include "app/main_loop.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine,
                   int showCommand) {
    return tabladexMain(instance, previousInstance, commandLine, showCommand);
}
