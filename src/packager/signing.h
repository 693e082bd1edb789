// The Authenticode signature a build can give its final EXE, made by the osslsigncode
// program from a PKCS#12 file (certificate and private key).
#pragma once

#include <string>
#include <string_view>

namespace packager {

// No signature when `pkcs12` is empty. The password is the PKCS#12 file's own; it is
// given to the signing program on its standard input, never on its command line.
struct SigningChoice {
  std::u16string pkcs12;
  std::string password;
  bool Wanted() const { return !pkcs12.empty(); }
};

// The program that signs, looked up on the search path.
inline constexpr char16_t kSigningProgram[] = u"osslsigncode";

// Signs the EXE at `path` in place, its checksum made right afterwards. The signed file is
// made beside it and replaces it only when whole: false with the reason in `*why` leaves
// the file as it was and nothing else behind.
bool SignExe(std::u16string_view path, const SigningChoice& signing, std::u16string* why);

}  // namespace packager
