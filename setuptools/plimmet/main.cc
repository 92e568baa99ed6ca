// plimmet: shows the machine's system information in a message box.
#include "setuptools/plimmet/system_info.h"

int main() { return vorlane::plimmet::WinMain(); }
