/* A stand-in for one runtime library of the installation, until our own runtime replaces
   it. It exports one function, StandIn_<module>, that returns the module's name; the
   stand-in player imports it so that its import table names the library. The build
   passes the module's name as STANDIN_MODULE. */
#ifndef STANDIN_MODULE
#error "STANDIN_MODULE names the module"
#endif

#define STANDIN_JOIN_(a, b) a##b
#define STANDIN_JOIN(a, b) STANDIN_JOIN_(a, b)
#define STANDIN_TEXT_(a) #a
#define STANDIN_TEXT(a) STANDIN_TEXT_(a)

__declspec(dllexport) const char* STANDIN_JOIN(StandIn_, STANDIN_MODULE)(void) { return STANDIN_TEXT(STANDIN_MODULE); }
