// The real Windows programs the tests edit: fixture32.exe (PE32) and fixture64.exe (PE32+),
// built by the MinGW compilers from fixtures/fixture.c and fixtures/fixture.rc, next to
// the picture files they were given. See fixtures/fixtures.cmake.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/image_files.h"

namespace brankel_test {

// The resources the programs carry, by their numbers in fixture.rc.
inline constexpr uint16_t kFixtureIconGroup = 101;       // fixture.ico
inline constexpr uint16_t kFixtureOtherIconGroup = 107;  // other.ico
inline constexpr uint16_t kFixtureBitmap = 352;          // picture.bmp

// The picture files, made the same way on the build machine (make_fixture_images) and by
// the tests, which compare them with what the programs hold.
inline std::vector<uint8_t> FixtureIconFile() { return MakeIconFile({16, 32, 48}, 0x31); }
inline std::vector<uint8_t> FixtureOtherIconFile() { return MakeIconFile({32}, 0x72); }
inline std::vector<uint8_t> FixturePictureFile() { return MakeBitmapFile(64, 48, 24, 0x5A); }

// A file of the fixture folder ("fixture64.exe", "fixture.ico", ...) as a path for the
// platform layer; empty when this build has no fixtures.
std::u16string FixturePath(const char* name);
// Whether this build made the fixtures and both programs are there; tests that need them
// skip otherwise, with the reason below.
bool FixturesAvailable();
// The unstripped builds of the same program ("unstripped32.exe", "unstripped64.exe").
bool UnstrippedFixturesAvailable();
inline constexpr const char* kNoFixtures =
    "no fixture programs in this build: g++, a MinGW compiler or its windres was missing "
    "when it was configured (see the CMake message)";

}  // namespace brankel_test
