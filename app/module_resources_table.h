// module_resources_table.h - the program's own resource tables (menu 101, About panel 102,
// icons 107 and 108) for platforms whose executables carry no resource section. The entry
// hands them to the platform before it creates the window. Static data; any thread.
#pragma once

#ifndef _WIN32
#include "platform/module_resources.h"

const platform::ModuleResources& tabladexResources();
#endif
