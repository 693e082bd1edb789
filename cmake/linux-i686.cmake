# 32-bit x86 Linux programs from the host's g++ (Debian's g++-multilib): the portable
# core and its tests with a 32-bit size_t, as the release program has, run natively.
# Debian's GoogleTest, libmd and Google Benchmark libraries are 64-bit only here, so the
# build compiles GoogleTest from its sources and goes without the other two.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
