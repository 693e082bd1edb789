// One runtime module of the player. The same source is built once for every library the
// player imports; each build names its one function after its library, so the player's
// import of it is by name from that library alone.
#ifndef BRANKEL_MODULE_STEM
#error BRANKEL_MODULE_STEM names the library this build makes
#endif

#define BRANKEL_JOIN2(a, b) a##b
#define BRANKEL_JOIN(a, b) BRANKEL_JOIN2(a, b)
#define BRANKEL_TEXT2(a) #a
#define BRANKEL_TEXT(a) BRANKEL_TEXT2(a)

// The module's name, for the player's trace: it answers only once the loader bound it.
extern "C" __declspec(dllexport) const char* BRANKEL_JOIN(BRANKEL_MODULE_STEM, _Ready)(void) {
  return BRANKEL_TEXT(BRANKEL_MODULE_STEM);
}
