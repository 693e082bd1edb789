// Failure texts on the console: the English language texts of message keys and the
// system's words for an error, with the line breaks a console wants.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cli {

// Language and system texts break lines with CR LF, as message boxes want; a console
// stream is given bare line feeds and translates them itself where the system needs it.
std::u16string ConsoleLines(std::u16string text);

// The English text of a message key (as stored, "%s" and all); without language files the
// key itself still says what went wrong.
std::u16string LanguageText(std::u16string_view key);

// The system's words for `code`. Some of them name the file as "%1", which the system
// leaves for its caller to fill in with `file`.
std::u16string SystemText(uint32_t code, const std::string& file);

}  // namespace cli
