/* The stand-in stub "sysdata\Stubvale.dat", until our own stub replaces it: the program
   a build extends with its payload section. It only says what it is and how its payload
   starts; unpacking and starting the player come with the real stub. */
#include "own_section.h"

int main(void) {
  PrintLineWithPayloadStart("stand-in stub");
  return 0;
}
