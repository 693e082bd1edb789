// Failure texts on the console: the English language texts of message keys and the
// system's words for an error, with the line breaks a console wants.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cli/cli.h"

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

// The English text of a failure key with the file as its one argument, console lines.
std::u16string KeyText(std::u16string_view key, const std::string& file);

// Reports on io.err, as "brankel: FILE: text", the failure the macro code left behind:
// `err_key` when it is given and not empty (a message key, or a message text ready to
// show), else the macro file error state's key when it holds one, else the system's last
// error, which is taken before anything here can change it. The buffer comes first: it
// is written by the call that failed, while the state may still hold the version key of
// the look at the file's header that came before (an old file's version is refused there
// before it is upgraded). Returns the exit code 1.
int ReportMacroFailure(const std::string& file, const Streams& io, const char16_t* err_key = nullptr);

}  // namespace cli
