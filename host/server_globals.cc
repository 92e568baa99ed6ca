// Variables the library shares with the program that hosts it.
#include "host/server_globals.h"

extern "C" {
__attribute__((visibility("default"))) int serverNum = 0;
__attribute__((visibility("default"))) void* HInstance = nullptr;
}
