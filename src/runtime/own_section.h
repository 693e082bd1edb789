/* Finding a section of the running program by name, from the headers the loader mapped
   at the image base; shared by the stand-in player and stub, which show the start of
   their payload so that a test can see what a build put there. */
#ifndef BRANKEL_RUNTIME_OWN_SECTION_H
#define BRANKEL_RUNTIME_OWN_SECTION_H

#include <stdint.h>
#include <stdio.h>
#include <string.h>

/* The linker's symbol for the first byte of the mapped image (its DOS header). */
extern const unsigned char __ImageBase[];

static uint32_t ReadMapped32(const unsigned char* at) {
  uint32_t value;
  memcpy(&value, at, sizeof value);
  return value;
}

static uint16_t ReadMapped16(const unsigned char* at) {
  uint16_t value;
  memcpy(&value, at, sizeof value);
  return value;
}

/* The mapped bytes of the section called `name` (8 characters at most) and their
   count, or null when the program has no such section. */
static const unsigned char* FindOwnSection(const char* name, uint32_t* size) {
  const unsigned char* nt = __ImageBase + ReadMapped32(__ImageBase + 0x3C);
  const uint16_t count = ReadMapped16(nt + 4 + 2);
  const uint16_t optional_size = ReadMapped16(nt + 4 + 16);
  const unsigned char* section = nt + 4 + 20 + optional_size;
  char wanted[8] = {0};
  strncpy(wanted, name, sizeof wanted);
  for (uint16_t i = 0; i < count; ++i, section += 40) {
    if (memcmp(section, wanted, sizeof wanted) != 0) continue;
    *size = ReadMapped32(section + 8);
    return __ImageBase + ReadMapped32(section + 12);
  }
  return NULL;
}

/* Prints `line`, then, when the program carries a ".mdata" section, its first bytes
   (at most 4) in hexadecimal: " .mdata 4D410000". */
static void PrintLineWithPayloadStart(const char* line) {
  uint32_t size = 0;
  const unsigned char* mdata = FindOwnSection(".mdata", &size);
  printf("%s", line);
  if (mdata != NULL) {
    printf(" .mdata ");
    for (uint32_t i = 0; i < size && i < 4; ++i) printf("%02X", mdata[i]);
  }
  printf("\n");
}

#endif
