// The program's one door to the skinned toolkit, so that start-up builds whether or not
// the toolkit is part of the build: without it the skin load only checks that the library
// loads, and messages use the system's message box.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "app/message_display.h"

namespace app {

bool SkinLoad(std::u16string_view library, int32_t hue, int32_t lightness, int32_t saturation);
void SkinUseSystemColours(bool use);
void SkinSetFont(std::u16string_view face, int32_t size);
std::unique_ptr<MessageDisplay> MakeMessageDisplay();

}  // namespace app
