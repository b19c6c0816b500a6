// The process entry on Windows: WinMain's command line holds the arguments (without the
// program's name); tabladexMain opens the first.
#include "app/main_loop.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine,
                   int showCommand) {
    return tabladexMain(instance, previousInstance, commandLine, showCommand);
}
