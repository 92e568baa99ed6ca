// wendal: lists and sets each server's registry values.
#include <cstdio>

#include "setuptools/wendal/settings_tool.h"

int main(int argc, char** argv) { return vorlane::wendal::run(argc, argv, stdout, stderr); }
