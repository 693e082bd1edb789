// The runtime libraries that the player loads when it needs them instead of importing
// them (the browser automation module and the web module): each tells its name.
#ifndef RUNTIME_LIBRARY_NAME
#error "RUNTIME_LIBRARY_NAME names the library"
#endif

extern "C" __declspec(dllexport) const char* RuntimeLibraryName() { return RUNTIME_LIBRARY_NAME; }
