// orvelstart: starts the search service and opens its administration page.
#include "setuptools/orvelstart/service_starter.h"

int main() { return vorlane::orvelstart::WinMain(); }
