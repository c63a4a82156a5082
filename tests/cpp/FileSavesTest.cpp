// File saves: permissions of secret-key files, symbolic links, targets that
// are not regular files, unusable paths, full disks and empty files.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestUtils.h"
#include "hebase/CTile.h"
#include "hebase/Encoder.h"
#include "hebase/FileStorage.h"
#include "hebase/HeContext.h"
#include "hebase/SavedContext.h"
#include "hebase/seal/SealCkksContext.h"
#include "hebase/utils/FileUtils.h"

using namespace quorvane;
using namespace qvtest;
namespace stdfs = std::filesystem;

namespace {

/// The permission bits of a file.
unsigned modeOf(const std::string& path)
{
  struct stat st;
  if (::stat(path.c_str(), &st) != 0)
    return 01000; // no such file
  return st.st_mode & 0777;
}

/// Sets the process's file-creation mask while alive.
class Umask
{
public:
  explicit Umask(mode_t mask) : old(::umask(mask)) {}
  ~Umask() { ::umask(old); }
  Umask(const Umask&) = delete;
  Umask& operator=(const Umask&) = delete;

private:
  mode_t old;
};

void writeText(const std::string& path, const std::string& text, mode_t mode)
{
  {
    std::ofstream out(path, std::ios::binary);
    out << text;
  }
  ::chmod(path.c_str(), mode);
}

/// The saves of the library that write a file, by what they hold.
struct FileSave
{
  const char* name;
  bool secret;
  std::function<void(const std::string&)> save;
};

std::vector<FileSave> fileSaves(const HeContext& he)
{
  auto tile = std::make_shared<CTile>(he);
  Encoder(he).encodeEncrypt(*tile, 1.5);
  return {
      {"secret key", true, [&he](const std::string& p) { he.saveSecretKeyToFile(p); }},
      {"secret key seed", true,
       [&he](const std::string& p) { he.saveSecretKeyToFile(p, he.getTraits().getSupportsSecKeySeed()); }},
      {"context", false, [&he](const std::string& p) { he.saveToFile(p); }},
      {"tile", false, [tile](const std::string& p) { tile->saveToFile(p); }},
  };
}

const HeContext& sealContext()
{
  static std::shared_ptr<HeContext> he = [] {
    auto c = std::make_shared<SealCkksContext>();
    c->init(HeConfigRequirement::insecure(256, 1, 30, 10));
    return c;
  }();
  return *he;
}

} // namespace

TEST(FileSaves, SecretKeyFilesAreForTheOwnerOnly)
{
  TempDir dir;
  std::shared_ptr<HeContext> mock = createMockup(8, 2);
  for (const HeContext* he : {static_cast<const HeContext*>(mock.get()), &sealContext()}) {
    for (const FileSave& save : fileSaves(*he)) {
      for (mode_t mask : {mode_t(0), mode_t(022)}) {
        SCOPED_TRACE(he->getRegistryKey() + " " + save.name + " umask " + std::to_string(mask));
        Umask umask(mask);
        unsigned expected = save.secret ? 0600 : (0666 & ~mask);
        std::string fresh = dir.file("fresh");
        stdfs::remove(fresh);
        save.save(fresh);
        EXPECT_EQ(modeOf(fresh), expected);
        // Replacing a file readable by all, or one for the owner only.
        for (mode_t before : {mode_t(0644), mode_t(0600)}) {
          std::string existing = dir.file("existing");
          writeText(existing, "old", before);
          save.save(existing);
          EXPECT_EQ(modeOf(existing), expected) << "replacing mode " << before;
          EXPECT_NE(readFile(existing), "old");
        }
      }
    }
  }
  // Nothing is left beside the files.
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"existing", "fresh"}));
}

TEST(FileSaves, SymbolicLinksAreWrittenThrough)
{
  TempDir dir;
  stdfs::create_directory(dir.path() / "sub");
  std::shared_ptr<HeContext> he = createMockup(8, 2);
  std::string expected = saved(*he);
  struct Case
  {
    const char* name;
    std::string link;
    std::string target;
  };
  std::vector<Case> cases = {
      {"relative link", "rel", dir.file("sub/rel-target")},
      {"absolute link", "abs", dir.file("sub/abs-target")},
      {"link to a link", "chain", dir.file("sub/chain-target")},
      {"dangling link", "dangling", dir.file("sub/new-target")},
  };
  stdfs::create_symlink("sub/rel-target", dir.path() / "rel");
  stdfs::create_symlink(dir.file("sub/abs-target"), dir.path() / "abs");
  stdfs::create_symlink("chain-target", dir.path() / "sub/chain-middle");
  stdfs::create_symlink("sub/chain-middle", dir.path() / "chain");
  stdfs::create_symlink("sub/new-target", dir.path() / "dangling");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (std::string(c.name) != "dangling link")
      writeText(c.target, "old", 0644);
    he->saveToFile(dir.file(c.link));
    EXPECT_TRUE(stdfs::is_symlink(dir.path() / c.link));
    EXPECT_EQ(readFile(c.target), expected);
    std::shared_ptr<HeContext> loaded = loadHeContextFromFile(dir.file(c.link));
    EXPECT_EQ(loaded->getContextId(), he->getContextId());
  }
  // The secret key through a link: the target is for the owner only.
  writeText(dir.file("sub/rel-target"), "old", 0644);
  he->saveSecretKeyToFile(dir.file("rel"));
  EXPECT_EQ(modeOf(dir.file("sub/rel-target")), 0600u);
  EXPECT_TRUE(stdfs::is_symlink(dir.path() / "rel"));

  // A loop of links is refused and creates nothing.
  stdfs::create_symlink("loop-b", dir.path() / "loop-a");
  stdfs::create_symlink("loop-a", dir.path() / "loop-b");
  std::vector<std::string> before = dir.entries();
  expectThrowWithMessage<std::runtime_error>(
      [&] { he->saveToFile(dir.file("loop-a")); },
      "Failed to open file " + dir.file("loop-a") + ": too many levels of symbolic links");
  EXPECT_EQ(dir.entries(), before);
}

TEST(FileSaves, TargetsThatAreNotRegularFilesAreRefused)
{
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
  stdfs::create_symlink("/dev/null", dir.path() / "to-device");
  stdfs::create_directory(dir.path() / "directory");
  std::shared_ptr<HeContext> he = createMockup(8, 2);
  for (const std::string& name : {"fifo", "to-device"}) {
    SCOPED_TRACE(name);
    for (const FileSave& save : fileSaves(*he)) {
      SCOPED_TRACE(save.name);
      expectThrowWithMessage<std::runtime_error>(
          [&] { save.save(dir.file(name)); },
          "Failed to open file " + dir.file(name) + ": the path exists and is not a regular file");
    }
  }
  EXPECT_EQ(stdfs::status(dir.path() / "fifo").type(), stdfs::file_type::fifo);
  EXPECT_TRUE(stdfs::is_symlink(dir.path() / "to-device"));
  expectThrowWithMessage<std::runtime_error>([&] { he->saveToFile(dir.file("directory")); },
                                             "Failed to open file " + dir.file("directory"));
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"directory", "fifo", "to-device"}));
}

TEST(FileSaves, UnusablePathsAreRefused)
{
  TempDir dir;
  std::shared_ptr<HeContext> he = createMockup(8, 2);
  std::string withNul = dir.file("a") + std::string(1, '\0') + "b";
  std::string printable = dir.file("a") + "\\0b";
  writeText(withNul.substr(0, withNul.find('\0')) + "-unrelated", "", 0644);
  CTile tile(*he);
  Encoder(*he).encodeEncrypt(tile, 1.0);
  std::vector<std::pair<const char*, std::function<void(const std::string&)>>> calls = {
      {"save context", [&](const std::string& p) { he->saveToFile(p); }},
      {"save secret key", [&](const std::string& p) { he->saveSecretKeyToFile(p); }},
      {"save tile", [&](const std::string& p) { tile.saveToFile(p); }},
      {"load tile", [&](const std::string& p) { CTile(*he).loadFromFile(p); }},
      {"load context", [&](const std::string& p) { loadHeContextFromFile(p); }},
      {"load secret key", [&](const std::string& p) { createMockup(8, 2)->loadSecretKeyFromFile(p); }},
  };
  for (auto& call : calls) {
    SCOPED_TRACE(call.first);
    expectThrowWithMessage<std::invalid_argument>(
        [&] { call.second(withNul); },
        "Failed to open file " + printable + ": the path holds a NUL character");
    expectThrowWithMessage<std::runtime_error>([&] { call.second(""); },
                                               "Failed to open file : empty path");
  }
  // Nothing was written at the path cut at the NUL.
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"a-unrelated"});

  // Storages: the path and the buffer names.
  expectThrowWithMessage<std::invalid_argument>(
      [&] { FileStorage(withNul, true); },
      "Cannot create FileStorage at path " + printable + ": the path holds a NUL character");
  expectThrowWithMessage<std::invalid_argument>(
      [&] { FileStorage(withNul, false); },
      "Cannot open FileStorage at path " + printable + ": the path holds a NUL character");
  FileStorage storage(dir.file("storage"), true);
  expectThrowWithMessage<std::invalid_argument>(
      [&] { storage.openBufferForWrite(std::string("x") + '\0' + "y"); },
      "Illegal buffer name: x\\0y: FileStorage doesn't support buffer names holding a NUL "
      "character.");
  expectThrowWithMessage<std::invalid_argument>(
      [&] { FileUtils::createCleanDir(withNul); },
      "Cannot create a clean directory " + printable + ": the path holds a NUL character");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a-unrelated", "storage"}));
}

TEST(FileSaves, EmptyFilesAreReportedAsSuch)
{
  TempDir dir;
  std::string empty = dir.file("empty");
  writeText(empty, "", 0644);
  std::shared_ptr<HeContext> he = createMockup(8, 2);
  const std::string message = "Failed to read file " + empty + ": file is empty";
  expectThrowWithMessage<std::runtime_error>([&] { CTile(*he).loadFromFile(empty); }, message);
  expectThrowWithMessage<std::runtime_error>([&] { loadHeContextFromFile(empty); }, message);
  expectThrowWithMessage<std::runtime_error>(
      [&] { std::make_shared<MockupContext>()->loadFromFile(empty); }, message);
  std::shared_ptr<HeContext> noKey = loadContext(saved(*he));
  expectThrowWithMessage<std::runtime_error>([&] { noKey->loadSecretKeyFromFile(empty); },
                                             message);
  EXPECT_FALSE(noKey->hasSecretKey());
}

namespace {

/// A pending file for target whose data goes to a device that refuses it.
void routeToFullDevice(FileUtils::PendingFile& file)
{
  file.close();
  file.open("/dev/full", std::ios::out | std::ios::binary);
}

std::string fullDiskMessage(const std::string& target)
{
  return "Failed to write file " + target + ": No space left on device";
}

} // namespace

TEST(FileSaves, FullDisksAreReportedWithTheReason)
{
  if (!stdfs::exists("/dev/full"))
    GTEST_SKIP() << "no /dev/full";
  TempDir dir;
  std::string target = dir.file("target.bin");
  writeText(target, "old", 0644);
  struct Case
  {
    const char* name;
    std::function<void(FileUtils::PendingFile&)> fail;
  };
  std::vector<Case> cases = {
      {"at the last flush",
       [](FileUtils::PendingFile& file) {
         file << "a little";
         file.commit();
       }},
      {"while writing more than the stream buffers",
       [](FileUtils::PendingFile& file) {
         std::string big(1 << 20, 'x');
         file.writeWith([&] { file << big; });
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      FileUtils::PendingFile file(target);
      routeToFullDevice(file);
      try {
        c.fail(file);
        ADD_FAILURE() << "no failure";
      } catch (const std::ios_base::failure& e) {
        EXPECT_EQ(std::string(e.what()), fullDiskMessage(target));
      }
    }
    EXPECT_EQ(readFile(target), "old");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"target.bin"});
  }
  // Failures of the object itself pass unchanged.
  FileUtils::PendingFile file(target);
  expectThrowWithMessage<std::logic_error>(
      [&] { file.writeWith([]() -> int { throw std::logic_error("not a stream failure"); }); },
      "not a stream failure");
}
