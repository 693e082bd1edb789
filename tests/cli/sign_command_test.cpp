// Signed builds through the real osslsigncode, with a throw-away certificate.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "packager/payload.h"
#include "pe/certificate_table.h"
#include "pe/pe_image.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "runtime/unpack.h"
#include "support/macro_builder.h"
#include "support/run_cli.h"
#include "support/scratch.h"

namespace cli {
namespace {

using brankel_test::Narrow;
using brankel_test::RunCli;
using nlohmann::json;

constexpr char kPassword[] = "brankel-test";

std::set<std::u16string> FilesIn(const std::u16string& folder) {
  std::set<std::u16string> names;
  plat::FindData data;
  plat::FindHandle find = plat::FindFirstFile(folder + u"\\*", &data);
  if (find == nullptr) return names;
  do {
    if (data.name != u"." && data.name != u"..") names.insert(data.name);
  } while (plat::FindNextFile(find, &data));
  plat::FindClose(find);
  return names;
}

class SignCommandTest : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    plat::ProgramRun run;
    for (const char16_t* tool : {u"osslsigncode", u"openssl"}) {
      if (!plat::RunProgram(tool, {u"--version"}, {}, &run) && !plat::RunProgram(tool, {u"version"}, {}, &run)) {
        GTEST_SKIP() << Narrow(tool) << " is not installed";
      }
    }
    ASSERT_TRUE(plat::CreateDirectory(Path(u"out")));
    ASSERT_TRUE(brankel_test::WriteBytes(Path(u"main.msd"), brankel_test::MacroBuilder().Bytes()));
    Openssl({u"req", u"-x509", u"-newkey", u"rsa:2048", u"-nodes", u"-days", u"2", u"-subj",
             u"/CN=Brankel Test Signer/O=Brankel Tests", u"-keyout", Host(u"key.pem"), u"-out", Host(u"cert.pem")});
    Openssl({u"pkcs12", u"-export", u"-inkey", Host(u"key.pem"), u"-in", Host(u"cert.pem"), u"-out",
             Host(u"signer.p12"), u"-passout", u"pass:" + plat::Utf8ToUtf16(kPassword)});
    brankel_test::SetVariable("BRANKEL_SIGN_PASSWORD", kPassword);
  }
  void TearDown() override {
    brankel_test::SetVariable("BRANKEL_SIGN_PASSWORD", nullptr);
    ScratchTest::TearDown();
  }
  std::u16string Host(std::u16string_view name) const { return plat::PathForProgram(Path(name)); }
  std::string Arg(std::u16string_view name) const { return Narrow(Path(name)); }
  void Openssl(const std::vector<std::u16string>& arguments) {
    plat::ProgramRun run;
    ASSERT_TRUE(plat::RunProgram(u"openssl", arguments, {}, &run));
    ASSERT_EQ(run.exit_code, 0u) << run.output;
  }
  brankel_test::CliOutput Build(std::vector<std::string> extra) {
    std::vector<std::string> args = {"build",     "--json", Arg(u"main.msd"), "-o", Arg(u"out\\main.exe"),
                                     "--machine", "x64"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunCli(args);
  }
};

TEST_F(SignCommandTest, SignedExeVerifiesAndItsPayloadStillChecks) {
  const brankel_test::CliOutput run = Build({"--sign-pkcs12", Arg(u"signer.p12")});
  if (run.code != 0 && run.err.find("Runvale.exe") != std::string::npos) GTEST_SKIP() << run.err;
  ASSERT_EQ(run.code, 0) << run.err << run.out;
  EXPECT_EQ(FilesIn(Path(u"out")), std::set<std::u16string>{u"main.exe"});

  plat::ProgramRun verify;
  ASSERT_TRUE(plat::RunProgram(
      u"osslsigncode", {u"verify", u"-CAfile", Host(u"cert.pem"), u"-in", Host(u"out\\main.exe")}, {}, &verify));
  EXPECT_EQ(verify.exit_code, 0u) << verify.output;
  EXPECT_NE(verify.output.find("Signature verification: ok"), std::string::npos) << verify.output;

  const std::string bytes = brankel_test::ReadBytes(Path(u"out\\main.exe"));
  const plat::ByteView file(bytes);
  std::string refusal;
  const std::optional<pe::CertificateTable> table = pe::ReadCertificateTable(file, &refusal);
  ASSERT_TRUE(table) << refusal;
  EXPECT_EQ(table->revision, pe::kCertificateRevision2);
  EXPECT_EQ(table->type, pe::kCertificateTypePkcs7);
  const size_t checksum_at = file.U32Or(pe::pe::kLfanewOffset, 0) + pe::pe::kCheckSum;
  EXPECT_EQ(file.U32Or(checksum_at, 0), pe::PeChecksum(file.data(), file.size(), checksum_at));

  // The stub reads its payload from its own section, which the signature does not move.
  pe::CPE_ImageEditor exe;
  ASSERT_TRUE(exe.Load(Path(u"out\\main.exe"))) << exe.RefusalText();
  const std::optional<plat::ByteView> section = packager::PayloadSection(exe);
  ASSERT_TRUE(section);
  if (plat::kHasMd5) {
    const runtime::Verified verified = runtime::VerifyPayload(*section);
    EXPECT_TRUE(verified.payload) << verified.fault.reason;
  }

  const brankel_test::CliOutput inspect = RunCli({"inspect", "--json", Arg(u"out\\main.exe")});
  EXPECT_EQ(inspect.code, 0) << inspect.err;
  const json report = json::parse(inspect.out);
  EXPECT_EQ(report["signature"]["signed"], true);
  EXPECT_EQ(report["signature"]["revision"], "0x0200");
  EXPECT_EQ(report["signature"]["type"], 2);
  EXPECT_EQ(report["signature"]["table_size"], table->size);
  EXPECT_EQ(report["signature"]["signer"]["subject"], "CN=Brankel Test Signer, O=Brankel Tests");
  EXPECT_EQ(report["signature"]["signer"]["issuer"], "CN=Brankel Test Signer, O=Brankel Tests");
  plat::ProgramRun serial;
  ASSERT_TRUE(plat::RunProgram(u"openssl", {u"x509", u"-noout", u"-serial", u"-in", Host(u"cert.pem")}, {}, &serial));
  EXPECT_EQ("serial=" + report["signature"]["signer"]["serial"].get<std::string>() + "\n", serial.output);
}

// The stub of a signed EXE still accepts its payload and starts the player. Runs only where
// a Wine prefix is ready (WINEPREFIX names one): making one takes longer than the tests.
TEST_F(SignCommandTest, SignedExeRunsUnderWine) {
#ifdef _WIN32
  GTEST_SKIP() << "the native build runs the EXE under Wine";
#else
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix == nullptr || !plat::FileExists(plat::PathFromHost(std::string(prefix) + "/system.reg"))) {
    GTEST_SKIP() << "WINEPREFIX names no ready Wine prefix";
  }
  const brankel_test::CliOutput build = Build({"--sign-pkcs12", Arg(u"signer.p12")});
  if (build.code != 0 && build.err.find("Runvale.exe") != std::string::npos) GTEST_SKIP() << build.err;
  ASSERT_EQ(build.code, 0) << build.err;
  const std::string log = "Z:" + Narrow(Host(u"log.txt"));
  brankel_test::SetVariable("BRANKEL_RUNTIME_LOG", log.c_str());
  plat::ProgramRun run;
  const bool started = plat::RunProgram(u"wine", {Host(u"out\\main.exe")}, {}, &run);
  brankel_test::SetVariable("BRANKEL_RUNTIME_LOG", nullptr);
  if (!started) GTEST_SKIP() << "Wine is not installed";
  // 2 would be a payload the stub found damaged, 4 a player it could not start.
  EXPECT_EQ(run.exit_code, 0u) << run.output << brankel_test::ReadBytes(Path(u"log.txt"));
#endif
}

TEST_F(SignCommandTest, FailedSigningKeepsThePreviousExeAndLeavesNothing) {
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"damaged.p12"), "not a PKCS#12 file"));
  const std::string previous = "the previous EXE";
  struct Case {
    const char* name;
    const char* password;  // nullptr: the variable is not set
    std::u16string_view pkcs12;
    std::string error;
  };
  const Case cases[] = {
      {"wrong password", "wrong", u"signer.p12", "could not sign"},
      {"damaged file", kPassword, u"damaged.p12", "could not sign"},
      {"missing file", kPassword, u"none.p12", "is not there"},
      {"no password", nullptr, u"signer.p12", "BRANKEL_SIGN_PASSWORD"},
      {"no signing program", kPassword, u"signer.p12", "not installed"},
  };
  const char* path = std::getenv("PATH");
  const std::string saved_path = path == nullptr ? "" : path;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(brankel_test::WriteBytes(Path(u"out\\main.exe"), previous));
    brankel_test::SetVariable("BRANKEL_SIGN_PASSWORD", c.password);
    if (c.error == "not installed") brankel_test::SetVariable("PATH", Narrow(Host(u"out")).c_str());
    const brankel_test::CliOutput run = Build({"--sign-pkcs12", Arg(c.pkcs12)});
    brankel_test::SetVariable("PATH", saved_path.c_str());
    if (run.code != 0 && run.err.find("Runvale.exe") != std::string::npos) GTEST_SKIP() << run.err;
    EXPECT_NE(run.code, 0);
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
    EXPECT_EQ(brankel_test::ReadBytes(Path(u"out\\main.exe")), previous);
    EXPECT_EQ(FilesIn(Path(u"out")), std::set<std::u16string>{u"main.exe"});
  }
  // Another variable can hold the password.
  brankel_test::SetVariable("BRANKEL_SIGN_PASSWORD", nullptr);
  brankel_test::SetVariable("OTHER_SIGN_PASSWORD", kPassword);
  const brankel_test::CliOutput run =
      Build({"--sign-pkcs12", Arg(u"signer.p12"), "--sign-password-env", "OTHER_SIGN_PASSWORD"});
  brankel_test::SetVariable("OTHER_SIGN_PASSWORD", nullptr);
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(brankel_test::ReadBytes(Path(u"out\\main.exe")), previous);
}

}  // namespace
}  // namespace cli
