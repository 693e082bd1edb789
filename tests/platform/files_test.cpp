#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/testing.h"
#include "support/scratch.h"

namespace brankel_test {
namespace {

using plat::Disposition;
namespace err = plat::err;

class FilesTest : public ScratchTest {
 protected:
  plat::FileHandle Open(std::u16string_view name, uint32_t access, uint32_t share, Disposition how) {
    return plat::OpenFile(Path(name), access, share, how);
  }
};

TEST_F(FilesTest, DispositionsFollowCreateFileRules) {
  // Create new: only when absent.
  plat::FileHandle file = Open(u"a.bin", plat::kGenericWrite, 0, Disposition::kCreateNew);
  ASSERT_NE(file, nullptr);
  plat::CloseFile(file);
  EXPECT_EQ(Open(u"a.bin", plat::kGenericWrite, 0, Disposition::kCreateNew), nullptr);
  EXPECT_EQ(plat::GetLastError(), err::kFileExists);

  // Create always truncates and says the file was there.
  ASSERT_TRUE(WriteBytes(Path(u"a.bin"), "0123456789"));
  file = Open(u"a.bin", plat::kGenericWrite, 0, Disposition::kCreateAlways);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(plat::GetLastError(), err::kAlreadyExists);
  uint64_t size = 99;
  ASSERT_TRUE(plat::GetFileSize(file, &size));
  EXPECT_EQ(size, 0u);
  plat::CloseFile(file);

  // Open always: creates quietly, reports an existing file.
  file = Open(u"b.bin", plat::kGenericRead, 0, Disposition::kOpenAlways);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(plat::GetLastError(), err::kSuccess);
  plat::CloseFile(file);
  file = Open(u"b.bin", plat::kGenericRead, 0, Disposition::kOpenAlways);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(plat::GetLastError(), err::kAlreadyExists);
  plat::CloseFile(file);

  // Truncate existing keeps the file but empties it.
  ASSERT_TRUE(WriteBytes(Path(u"b.bin"), "abc"));
  file = Open(u"b.bin", plat::kGenericWrite, 0, Disposition::kTruncateExisting);
  ASSERT_NE(file, nullptr);
  plat::CloseFile(file);
  EXPECT_EQ(ReadBytes(Path(u"b.bin")), "");
}

TEST_F(FilesTest, MissingFileAndMissingFolderGiveDifferentErrors) {
  EXPECT_EQ(Open(u"none.bin", plat::kGenericRead, 0, Disposition::kOpenExisting), nullptr);
  EXPECT_EQ(plat::GetLastError(), err::kFileNotFound);
  EXPECT_EQ(Open(u"nofolder\\x.bin", plat::kGenericRead, 0, Disposition::kOpenExisting), nullptr);
  EXPECT_EQ(plat::GetLastError(), err::kPathNotFound);
  EXPECT_EQ(Open(u"nofolder\\x.bin", plat::kGenericWrite, 0, Disposition::kCreateAlways), nullptr);
  EXPECT_EQ(plat::GetLastError(), err::kPathNotFound);
  EXPECT_EQ(Open(u"bad<name>.bin", plat::kGenericWrite, 0, Disposition::kCreateAlways), nullptr);
  EXPECT_EQ(plat::GetLastError(), err::kInvalidName);
  EXPECT_EQ(plat::OpenFile(dir_, plat::kGenericRead, plat::kShareRead, Disposition::kOpenExisting), nullptr);
  EXPECT_EQ(plat::GetLastError(), err::kAccessDenied);
}

TEST_F(FilesTest, ReadWriteSeekAndSetEnd) {
  plat::FileHandle file = Open(u"rw.bin", plat::kGenericRead | plat::kGenericWrite, 0, Disposition::kCreateAlways);
  ASSERT_NE(file, nullptr);
  uint32_t done = 0;
  ASSERT_TRUE(plat::WriteFile(file, "0123456789", 10, &done));
  EXPECT_EQ(done, 10u);

  uint64_t position = 0;
  ASSERT_TRUE(plat::SeekFile(file, -3, plat::SeekOrigin::kEnd, &position));
  EXPECT_EQ(position, 7u);
  char buffer[8] = {};
  ASSERT_TRUE(plat::ReadFile(file, buffer, sizeof buffer, &done));
  EXPECT_EQ(std::string(buffer, done), "789");
  // At the end, a read succeeds with nothing.
  ASSERT_TRUE(plat::ReadFile(file, buffer, sizeof buffer, &done));
  EXPECT_EQ(done, 0u);

  // A seek before the start fails and leaves the pointer where it was.
  EXPECT_FALSE(plat::SeekFile(file, -11, plat::SeekOrigin::kEnd, &position));
  EXPECT_EQ(plat::GetLastError(), err::kNegativeSeek);
  ASSERT_TRUE(plat::SeekFile(file, 0, plat::SeekOrigin::kCurrent, &position));
  EXPECT_EQ(position, 10u);

  // Seeking past the end and writing fills the gap with zeros.
  ASSERT_TRUE(plat::SeekFile(file, 12, plat::SeekOrigin::kBegin, &position));
  ASSERT_TRUE(plat::WriteFile(file, "Z", 1, &done));
  uint64_t size = 0;
  ASSERT_TRUE(plat::GetFileSize(file, &size));
  EXPECT_EQ(size, 13u);

  ASSERT_TRUE(plat::SeekFile(file, 4, plat::SeekOrigin::kBegin, &position));
  ASSERT_TRUE(plat::SetEndOfFile(file));
  ASSERT_TRUE(plat::GetFileSize(file, &size));
  EXPECT_EQ(size, 4u);
  plat::CloseFile(file);
  EXPECT_EQ(ReadBytes(Path(u"rw.bin")), "0123");
}

TEST_F(FilesTest, HandlesOnlyDoWhatTheirAccessAllows) {
  ASSERT_TRUE(WriteBytes(Path(u"f.bin"), "data"));
  plat::FileHandle reader = Open(u"f.bin", plat::kGenericRead, plat::kShareRead, Disposition::kOpenExisting);
  ASSERT_NE(reader, nullptr);
  uint32_t done = 1;
  EXPECT_FALSE(plat::WriteFile(reader, "x", 1, &done));
  EXPECT_EQ(plat::GetLastError(), err::kAccessDenied);
  EXPECT_EQ(done, 0u);
  EXPECT_FALSE(plat::SetEndOfFile(reader));
  plat::CloseFile(reader);

  plat::FileHandle writer = Open(u"f.bin", plat::kGenericWrite, 0, Disposition::kOpenExisting);
  ASSERT_NE(writer, nullptr);
  char byte = 0;
  EXPECT_FALSE(plat::ReadFile(writer, &byte, 1, &done));
  EXPECT_EQ(plat::GetLastError(), err::kAccessDenied);
  plat::CloseFile(writer);
  EXPECT_EQ(ReadBytes(Path(u"f.bin")), "data");
}

TEST_F(FilesTest, ShareModesBetweenHandles) {
  ASSERT_TRUE(WriteBytes(Path(u"s.bin"), "shared"));
  plat::FileHandle first = Open(u"s.bin", plat::kGenericRead, plat::kShareRead, Disposition::kOpenExisting);
  ASSERT_NE(first, nullptr);

  // Readers that share reading get along; a writer does not.
  plat::FileHandle second = Open(u"s.bin", plat::kGenericRead, plat::kShareRead, Disposition::kOpenExisting);
  EXPECT_NE(second, nullptr);
  EXPECT_EQ(Open(u"s.bin", plat::kGenericWrite, plat::kShareRead, Disposition::kOpenExisting), nullptr);
  EXPECT_EQ(plat::GetLastError(), err::kSharingViolation);
  // A reader that will not share reading cannot join either.
  EXPECT_EQ(Open(u"s.bin", plat::kGenericRead, 0, Disposition::kOpenExisting), nullptr);
  EXPECT_EQ(plat::GetLastError(), err::kSharingViolation);
  // Without the delete share the file cannot be deleted, nor replaced by a copy.
  EXPECT_FALSE(plat::DeleteFile(Path(u"s.bin")));
  EXPECT_EQ(plat::GetLastError(), err::kSharingViolation);
  ASSERT_TRUE(WriteBytes(Path(u"other.bin"), "other"));
  EXPECT_FALSE(plat::CopyFile(Path(u"other.bin"), Path(u"s.bin"), false));
  EXPECT_EQ(plat::GetLastError(), err::kSharingViolation);

  plat::CloseFile(first);
  plat::CloseFile(second);
  EXPECT_TRUE(plat::DeleteFile(Path(u"s.bin")));
  EXPECT_FALSE(plat::FileExists(Path(u"s.bin")));
}

TEST_F(FilesTest, DeleteIsAllowedWhenEveryHandleSharesDelete) {
  ASSERT_TRUE(WriteBytes(Path(u"d.bin"), "x"));
  plat::FileHandle file =
      Open(u"d.bin", plat::kGenericRead, plat::kShareRead | plat::kShareDelete, Disposition::kOpenExisting);
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(plat::DeleteFile(Path(u"d.bin")));
  plat::CloseFile(file);
  EXPECT_FALSE(plat::FileExists(Path(u"d.bin")));
}

TEST_F(FilesTest, ReadOnlyAttributeProtectsTheFile) {
  ASSERT_TRUE(WriteBytes(Path(u"ro.bin"), "keep"));
  EXPECT_EQ(plat::GetFileAttributes(Path(u"ro.bin")) & plat::kAttrReadOnly, 0u);
  ASSERT_TRUE(plat::SetFileAttributes(Path(u"ro.bin"), plat::kAttrReadOnly));
  EXPECT_NE(plat::GetFileAttributes(Path(u"ro.bin")) & plat::kAttrReadOnly, 0u);

  if (plat::testing::UnderWine()) {
    std::puts("  (Wine run by root keeps no file read-only; enforcement checked natively)");
  } else {
    EXPECT_EQ(Open(u"ro.bin", plat::kGenericWrite, 0, Disposition::kOpenExisting), nullptr);
    EXPECT_EQ(plat::GetLastError(), err::kAccessDenied);
    EXPECT_FALSE(plat::DeleteFile(Path(u"ro.bin")));
    EXPECT_EQ(plat::GetLastError(), err::kAccessDenied);
  }
  // Reading is still fine, and a copy keeps the attribute.
  EXPECT_EQ(ReadBytes(Path(u"ro.bin")), "keep");
  ASSERT_TRUE(plat::CopyFile(Path(u"ro.bin"), Path(u"ro2.bin"), true));
  EXPECT_NE(plat::GetFileAttributes(Path(u"ro2.bin")) & plat::kAttrReadOnly, 0u);

  ASSERT_TRUE(plat::SetFileAttributes(Path(u"ro.bin"), plat::kAttrNormal));
  EXPECT_TRUE(plat::DeleteFile(Path(u"ro.bin")));
}

TEST_F(FilesTest, AttributesAndExistence) {
  ASSERT_TRUE(WriteBytes(Path(u"file.txt"), "x"));
  ASSERT_TRUE(plat::CreateDirectory(Path(u"folder")));
  EXPECT_TRUE(plat::FileExists(Path(u"file.txt")));
  EXPECT_FALSE(plat::IsDirectory(Path(u"file.txt")));
  EXPECT_TRUE(plat::IsDirectory(Path(u"folder")));
  EXPECT_EQ(plat::GetFileAttributes(Path(u"file.txt")) & plat::kAttrDirectory, 0u);
  EXPECT_EQ(plat::GetFileAttributes(Path(u"missing")), plat::kInvalidAttributes);
  EXPECT_EQ(plat::GetLastError(), err::kFileNotFound);
  EXPECT_EQ(plat::GetFileAttributes(Path(u"missing\\deeper")), plat::kInvalidAttributes);
  EXPECT_EQ(plat::GetLastError(), err::kPathNotFound);
}

TEST_F(FilesTest, NamesMatchWithoutRegardToCase) {
  ASSERT_TRUE(WriteBytes(Path(u"MixedCase.TXT"), "case"));
  ASSERT_TRUE(plat::CreateDirectory(Path(u"SubFolder")));
  ASSERT_TRUE(WriteBytes(Path(u"subfolder\\Inner.bin"), "inner"));
  EXPECT_EQ(ReadBytes(Path(u"mixedcase.txt")), "case");
  EXPECT_EQ(ReadBytes(Path(u"SUBFOLDER\\INNER.BIN")), "inner");
  // Writing under another case replaces the same file rather than adding one.
  ASSERT_TRUE(WriteBytes(Path(u"MIXEDCASE.txt"), "again"));
  EXPECT_EQ(ReadBytes(Path(u"MixedCase.TXT")), "again");
}

TEST_F(FilesTest, CopyFileRules) {
  ASSERT_TRUE(WriteBytes(Path(u"src.bin"), std::string(100000, 'q')));
  ASSERT_TRUE(WriteBytes(Path(u"dst.bin"), "old"));
  EXPECT_FALSE(plat::CopyFile(Path(u"src.bin"), Path(u"dst.bin"), true));
  EXPECT_EQ(plat::GetLastError(), err::kFileExists);
  EXPECT_EQ(ReadBytes(Path(u"dst.bin")), "old");
  ASSERT_TRUE(plat::CopyFile(Path(u"src.bin"), Path(u"dst.bin"), false));
  EXPECT_EQ(ReadBytes(Path(u"dst.bin")), std::string(100000, 'q'));

  EXPECT_FALSE(plat::CopyFile(Path(u"nothing.bin"), Path(u"x.bin"), false));
  EXPECT_EQ(plat::GetLastError(), err::kFileNotFound);
  EXPECT_FALSE(plat::CopyFile(Path(u"src.bin"), Path(u"nofolder\\x.bin"), false));
  EXPECT_EQ(plat::GetLastError(), err::kPathNotFound);
}

TEST_F(FilesTest, FolderRules) {
  ASSERT_TRUE(plat::CreateDirectory(Path(u"sub")));
  EXPECT_FALSE(plat::CreateDirectory(Path(u"sub")));
  EXPECT_EQ(plat::GetLastError(), err::kAlreadyExists);
  EXPECT_FALSE(plat::CreateDirectory(Path(u"no\\such")));
  EXPECT_EQ(plat::GetLastError(), err::kPathNotFound);

  ASSERT_TRUE(WriteBytes(Path(u"sub\\f.bin"), "x"));
  EXPECT_FALSE(plat::RemoveDirectory(Path(u"sub")));
  EXPECT_EQ(plat::GetLastError(), err::kDirNotEmpty);
  EXPECT_FALSE(plat::RemoveDirectory(Path(u"sub\\f.bin")));
  EXPECT_EQ(plat::GetLastError(), err::kDirectory);
  EXPECT_FALSE(plat::DeleteFile(Path(u"sub")));
  EXPECT_EQ(plat::GetLastError(), err::kAccessDenied);

  ASSERT_TRUE(plat::DeleteFile(Path(u"sub\\f.bin")));
  EXPECT_TRUE(plat::RemoveDirectory(Path(u"sub")));
  EXPECT_FALSE(plat::FileExists(Path(u"sub")));
}

TEST_F(FilesTest, MoveFileRenamesAndReplacesOnlyWhenAsked) {
  ASSERT_TRUE(WriteBytes(Path(u"new.tmp"), "new"));
  ASSERT_TRUE(WriteBytes(Path(u"old.dat"), "old"));
  EXPECT_FALSE(plat::MoveFile(Path(u"new.tmp"), Path(u"old.dat"), false));
  EXPECT_EQ(plat::GetLastError(), err::kAlreadyExists);
  EXPECT_EQ(ReadBytes(Path(u"old.dat")), "old");
  ASSERT_TRUE(plat::MoveFile(Path(u"new.tmp"), Path(u"OLD.DAT"), true));
  EXPECT_EQ(ReadBytes(Path(u"old.dat")), "new");
  EXPECT_FALSE(plat::FileExists(Path(u"new.tmp")));
  EXPECT_FALSE(plat::MoveFile(Path(u"gone.tmp"), Path(u"x.dat"), true));
  EXPECT_EQ(plat::GetLastError(), err::kFileNotFound);
  ASSERT_TRUE(plat::MoveFile(Path(u"old.dat"), Path(u"renamed.dat"), false));
  EXPECT_EQ(ReadBytes(Path(u"renamed.dat")), "new");
  // A target held open without the delete share stays.
  ASSERT_TRUE(WriteBytes(Path(u"next.tmp"), "next"));
  plat::FileHandle holder = Open(u"renamed.dat", plat::kGenericRead, plat::kShareRead, Disposition::kOpenExisting);
  ASSERT_NE(holder, nullptr);
  EXPECT_FALSE(plat::MoveFile(Path(u"next.tmp"), Path(u"renamed.dat"), true));
  plat::CloseFile(holder);
  EXPECT_EQ(ReadBytes(Path(u"renamed.dat")), "new");
}

TEST(FileHandles, NullHandleIsRejected) {
  uint32_t done = 7;
  char byte = 0;
  EXPECT_FALSE(plat::ReadFile(nullptr, &byte, 1, &done));
  EXPECT_EQ(plat::GetLastError(), plat::err::kInvalidHandle);
  EXPECT_EQ(done, 0u);
  EXPECT_FALSE(plat::CloseFile(nullptr));
  EXPECT_FALSE(plat::FindNextFile(nullptr, nullptr));
}

// Inside a look-up batch the folders read stay trusted, so each change the program makes
// must show in the next look-up, under any spelling of the name.
TEST_F(FilesTest, LookUpsInABatchSeeTheProgramsOwnChanges) {
  ASSERT_TRUE(plat::CreateDirectory(Path(u"Sub")));
  const std::u16string upper = Path(u"SUB\\NOTE.TXT");
  const auto exists = [&](const std::u16string& path) {
    const uint32_t attributes = plat::GetFileAttributes(path);
    return attributes != plat::kInvalidAttributes && (attributes & plat::kAttrDirectory) == 0;
  };
  const plat::LookupBatch batch;
  const plat::LookupBatch nested;
  struct Step {
    const char* what;
    std::function<bool()> change;
    bool note_exists;
  };
  const Step steps[] = {
      {"created", [&] { return WriteBytes(Path(u"Sub\\note.txt"), "x"); }, true},
      {"deleted", [&] { return plat::DeleteFile(Path(u"Sub\\note.txt")); }, false},
      {"renamed into place",
       [&] {
         return WriteBytes(Path(u"Sub\\other.txt"), "y") && plat::MoveFile(Path(u"Sub\\other.txt"), upper, false);
       },
       true},
      {"renamed away", [&] { return plat::MoveFile(upper, Path(u"Sub\\gone.txt"), false); }, false},
      {"copied into place", [&] { return plat::CopyFile(Path(u"Sub\\gone.txt"), Path(u"sub\\Note.txt"), true); }, true},
  };
  EXPECT_FALSE(exists(upper));
  for (const Step& step : steps) {
    ASSERT_TRUE(step.change()) << step.what;
    EXPECT_EQ(exists(upper), step.note_exists) << step.what;
  }
  // A folder made in the batch holds files at once.
  ASSERT_TRUE(plat::CreateDirectory(Path(u"sub\\Deeper")));
  ASSERT_TRUE(WriteBytes(Path(u"Sub\\deeper\\a.bin"), "z"));
  EXPECT_TRUE(exists(Path(u"SUB\\DEEPER\\A.BIN")));
  ASSERT_TRUE(plat::DeleteFile(Path(u"Sub\\deeper\\a.bin")));
  ASSERT_TRUE(plat::RemoveDirectory(Path(u"Sub\\Deeper")));
  EXPECT_EQ(plat::GetFileAttributes(Path(u"SUB\\DEEPER")), plat::kInvalidAttributes);
  EXPECT_EQ(plat::GetFileAttributes(Path(u"SUB\\DEEPER\\A.BIN")), plat::kInvalidAttributes);
  EXPECT_EQ(plat::GetLastError(), plat::err::kPathNotFound);
}

// The search for files keeps its folders for a batch; a file the program makes in the
// current folder is found by the next search.
TEST_F(FilesTest, SearchInABatchFindsAFileMadeInIt) {
  const std::u16string previous = plat::GetCurrentDirectory();
  ASSERT_TRUE(plat::SetCurrentDirectory(dir_));
  {
    const plat::LookupBatch batch;
    EXPECT_EQ(plat::SearchPath(u"Brankel-Search-Probe.DAT"), u"");
    ASSERT_TRUE(WriteBytes(Path(u"brankel-search-probe.dat"), "x"));
    const std::u16string found = plat::SearchPath(u"Brankel-Search-Probe.DAT");
    EXPECT_TRUE(plat::EqualNoCase(found, Path(u"Brankel-Search-Probe.DAT"))) << Narrow(found);
    ASSERT_TRUE(plat::DeleteFile(Path(u"brankel-search-probe.dat")));
    EXPECT_EQ(plat::SearchPath(u"Brankel-Search-Probe.DAT"), u"");
  }
  plat::SetCurrentDirectory(previous);
}

#ifndef _WIN32
// A batch keeps the listing of a folder the program changes and takes each change in; the
// host's own spellings and a second name for the same folder must not fool it.
TEST(PosixListings, ABatchFollowsHostSpellingsAndSecondNames) {
  char host[] = "/tmp/brankel-listing-XXXXXX";
  ASSERT_NE(mkdtemp(host), nullptr);
  const std::string real = std::string(host) + "/real";
  ASSERT_EQ(mkdir(real.c_str(), 0755), 0);
  ASSERT_EQ(symlink(real.c_str(), (std::string(host) + "/alias").c_str()), 0);
  for (const char* name : {"/b.txt", "/B.TXT"}) {
    std::FILE* file = std::fopen((real + name).c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
  }
  const std::u16string folder = u"Z:" + plat::Utf8ToUtf16(host) + u"\\";
  const auto exists = [&](std::u16string_view name) { return plat::FileExists(folder + std::u16string(name)); };
  {
    const plat::LookupBatch batch;
    EXPECT_FALSE(exists(u"real\\NOTE.TXT"));
    EXPECT_FALSE(exists(u"alias\\note.txt"));
    ASSERT_TRUE(WriteBytes(folder + u"alias\\note.txt", "x"));
    EXPECT_TRUE(exists(u"real\\NOTE.TXT")) << "made through the other name";
    // The first removal takes "b.txt", the exact spelling; "B.TXT" still answers to any.
    for (const bool left : {true, false}) {
      ASSERT_TRUE(plat::DeleteFile(folder + u"real\\b.txt"));
      EXPECT_EQ(exists(u"REAL\\b.TxT"), left);
    }
    ASSERT_TRUE(plat::DeleteFile(folder + u"real\\note.txt"));
    EXPECT_FALSE(exists(u"alias\\Note.Txt"));
    ASSERT_TRUE(plat::RemoveDirectory(folder + u"real"));
    EXPECT_FALSE(exists(u"real"));
  }
  unlink((std::string(host) + "/alias").c_str());
  rmdir(host);
}
#endif

}  // namespace
}  // namespace brankel_test
