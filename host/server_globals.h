// Variables the library shares with the program that hosts it.
#pragma once

extern "C" {
// The server number (0..9) of this server process; set by the host program
// from "-serverNum" or by osdnt_native.set_server_num.
extern int serverNum;
// The host program's instance handle, stored before wrapper_startup.
extern void* HInstance;
}
