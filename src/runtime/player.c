/* The stand-in player "Runvale.exe", until our own player replaces it. It imports one
   function of each runtime library that the real player imports, so that the build has a
   real import table to trim, and calls them only when asked ("--call-modules"): a copy
   whose unneeded imports were removed still starts and prints its line.

   standin_modules.h, written by the build, lists the modules as X(name). */
#include <stdio.h>
#include <string.h>

#include "own_section.h"
#include "standin_modules.h"

#define STANDIN_DECLARE(name) const char* StandIn_##name(void);
STANDIN_IMPORTED_MODULES(STANDIN_DECLARE)

#define STANDIN_ENTRY(name) StandIn_##name,
static const char* (*const kModules[])(void) = {STANDIN_IMPORTED_MODULES(STANDIN_ENTRY)};

int main(int argc, char** argv) {
  if (argc > 1 && strcmp(argv[1], "--call-modules") == 0) {
    for (size_t i = 0; i < sizeof kModules / sizeof kModules[0]; ++i) printf("called %s\n", kModules[i]());
  }
  PrintLineWithPayloadStart("stand-in player");
  return 0;
}
