#include "vexaTestTemporaryFolder.h"

#include <vexaException.h>
#include <vexaSafeFileReplace.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{
  namespace fs = std::filesystem;
  using ::testing::HasSubstr;
  using vexa::test::ReadFile;
  using vexa::test::TemporaryFolder;

  void WriteText(const std::string &path, const std::string &text)
  {
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (!out)
      throw std::runtime_error("cannot write " + path);
  }

  /** Every name in the folder, links and hidden files included. */
  std::set<std::string> Names(const fs::path &folder)
  {
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
      names.insert(entry.path().filename().string());
    return names;
  }

  struct ReplaceCase
  {
    const char *name;
    /** Puts something at "out.nrrd" in the folder (and beside it); answers false when it cannot here. */
    std::function<bool(const TemporaryFolder &)> prepare;
    bool writerFails; ///< the test's writer throws after writing half: its exception arrives unchanged
    bool writeFails;  ///< the write fails all the same (a vexa::Exception naming the path)
    /** What the write must have left behind. */
    std::function<void(const TemporaryFolder &)> check;
  };

  bool MakeNode(const TemporaryFolder &f, mode_t type, dev_t device)
  {
    return ::mknod(f.File("out.nrrd").c_str(), type | 0666, device) == 0;
  }

  const ReplaceCase Cases[] = {
    {"NothingThere", [](const TemporaryFolder &) { return true; }, false, false,
     [](const TemporaryFolder &f) {
       EXPECT_EQ("new", ReadFile(f.File("out.nrrd")));
       EXPECT_EQ(std::set<std::string>{"out.nrrd"}, Names(f.Path()));
     }},
    {"RegularFileKeepsItsPermissionsAndOwner",
     [](const TemporaryFolder &f) {
       WriteText(f.File("out.nrrd"), "old");
       if (::geteuid() == 0 && ::chown(f.File("out.nrrd").c_str(), 4321, 4321) != 0)
         return false;
       return ::chmod(f.File("out.nrrd").c_str(), 0640) == 0;
     },
     false, false,
     [](const TemporaryFolder &f) {
       EXPECT_EQ("new", ReadFile(f.File("out.nrrd")));
       EXPECT_EQ(fs::perms(0640), fs::status(f.File("out.nrrd")).permissions() & fs::perms::mask);
       struct stat info;
       ASSERT_EQ(0, ::stat(f.File("out.nrrd").c_str(), &info));
       EXPECT_EQ(::geteuid() == 0 ? 4321u : ::geteuid(), info.st_uid);
       EXPECT_EQ(std::set<std::string>{"out.nrrd"}, Names(f.Path()));
     }},
    {"RegularFileIntactAfterAFailedWrite",
     [](const TemporaryFolder &f) {
       WriteText(f.File("out.nrrd"), "old");
       return true;
     },
     true, true,
     [](const TemporaryFolder &f) {
       EXPECT_EQ("old", ReadFile(f.File("out.nrrd")));
       EXPECT_EQ(std::set<std::string>{"out.nrrd"}, Names(f.Path()));
     }},
    {"LinkToAFileInAnotherFolder",
     [](const TemporaryFolder &f) {
       fs::create_directory(f.Path() / "data");
       WriteText(f.File("data/target.bin"), "old");
       fs::create_symlink("data/target.bin", f.File("out.nrrd"));
       return true;
     },
     false, false,
     [](const TemporaryFolder &f) {
       EXPECT_EQ(S_IFLNK, vexa::test::FileTypeAt(f.File("out.nrrd")));
       EXPECT_EQ("data/target.bin", fs::read_symlink(f.File("out.nrrd")).string());
       EXPECT_EQ("new", ReadFile(f.File("data/target.bin")));
       EXPECT_EQ(std::set<std::string>{"target.bin"}, Names(f.Path() / "data"));
     }},
    {"LinkIntactAfterAFailedWrite",
     [](const TemporaryFolder &f) {
       WriteText(f.File("target.nrrd"), "old");
       fs::create_symlink(f.File("target.nrrd"), f.File("out.nrrd"));
       return true;
     },
     true, true,
     [](const TemporaryFolder &f) {
       EXPECT_EQ(S_IFLNK, vexa::test::FileTypeAt(f.File("out.nrrd")));
       EXPECT_EQ("old", ReadFile(f.File("target.nrrd")));
       EXPECT_EQ((std::set<std::string>{"out.nrrd", "target.nrrd"}), Names(f.Path()));
     }},
    {"ChainOfLinksToNothingCreatesTheLastTarget",
     [](const TemporaryFolder &f) {
       fs::create_symlink("middle", f.File("out.nrrd"));
       fs::create_symlink("end.nrrd", f.File("middle"));
       return true;
     },
     false, false,
     [](const TemporaryFolder &f) {
       EXPECT_EQ(S_IFLNK, vexa::test::FileTypeAt(f.File("out.nrrd")));
       EXPECT_EQ(S_IFLNK, vexa::test::FileTypeAt(f.File("middle")));
       EXPECT_EQ("new", ReadFile(f.File("end.nrrd")));
       EXPECT_EQ((std::set<std::string>{"out.nrrd", "middle", "end.nrrd"}), Names(f.Path()));
     }},
    {"DeviceNodeIsWrittenToNotReplaced",
     [](const TemporaryFolder &f) { return MakeNode(f, S_IFCHR, makedev(1, 3)); }, // like /dev/null
     false, false,
     [](const TemporaryFolder &f) {
       EXPECT_EQ(S_IFCHR, vexa::test::FileTypeAt(f.File("out.nrrd")));
       EXPECT_EQ(std::set<std::string>{"out.nrrd"}, Names(f.Path()));
     }},
    {"FullDeviceFailsAndStaysADevice",
     [](const TemporaryFolder &f) { return MakeNode(f, S_IFCHR, makedev(1, 7)); }, // like /dev/full
     false, true, // the device is full: a failure the writer itself would not see
     [](const TemporaryFolder &f) {
       EXPECT_EQ(S_IFCHR, vexa::test::FileTypeAt(f.File("out.nrrd")));
       EXPECT_EQ(std::set<std::string>{"out.nrrd"}, Names(f.Path()));
     }},
  };

  class SafeFileReplace : public ::testing::TestWithParam<ReplaceCase>
  {
  };
}

TEST_P(SafeFileReplace, WritesWhatIsThereTheRightWay)
{
  const ReplaceCase &c = GetParam();
  TemporaryFolder folder;
  if (!c.prepare(folder))
    GTEST_SKIP() << "cannot make this kind of file here (device nodes need root)";
  const std::string path = folder.File("out.nrrd");
  std::string written;
  const auto write = [&](const std::string &name) {
    written = name;
    if (c.writerFails)
    {
      WriteText(name, "ne"); // a half-written file
      throw std::runtime_error("the disk is full");
    }
    WriteText(name, "new");
  };

  if (c.writerFails)
  {
    EXPECT_THROW(vexa::ReplaceFileSafely(path, write), std::runtime_error);
  }
  else if (c.writeFails)
  {
    try
    {
      vexa::ReplaceFileSafely(path, write);
      ADD_FAILURE() << "a failed write reported as success";
    }
    catch (const vexa::Exception &e)
    {
      EXPECT_THAT(e.GetDescription(), HasSubstr("Cannot write \"" + path + "\": "));
    }
  }
  else
  {
    vexa::ReplaceFileSafely(path, write);
  }
  // the writer always gets a new, hidden temporary with the name's extension, gone afterwards
  const fs::path name(written);
  EXPECT_EQ('.', name.filename().string()[0]) << written;
  EXPECT_EQ(".nrrd", name.extension().string()) << written;
  EXPECT_FALSE(fs::exists(written)) << written;
  c.check(folder);
}

INSTANTIATE_TEST_SUITE_P(WhatIsAtThePath,
                         SafeFileReplace,
                         ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<ReplaceCase> &info) {
                           return std::string(info.param.name);
                         });

namespace
{
  struct GroupCase
  {
    const char *name;
    /** Puts something at "out.nhdr" and "out.raw" in the folder; answers false when it cannot here. */
    std::function<bool(const TemporaryFolder &)> prepare;
    /** Runs in the writer once both new files are written (throws to fail the write); may be empty. */
    std::function<void(const TemporaryFolder &)> meanwhile;
    /** The text the vexa::Exception holds; empty when the write succeeds or the writer's own exception arrives. */
    const char *error;
    std::function<void(const TemporaryFolder &)> check;
  };

  bool WriteOldPair(const TemporaryFolder &f)
  {
    WriteText(f.File("out.nhdr"), "old header");
    WriteText(f.File("out.raw"), "old data");
    return true;
  }

  void ExpectOldPair(const TemporaryFolder &f)
  {
    EXPECT_EQ("old header", ReadFile(f.File("out.nhdr")));
    EXPECT_EQ("old data", ReadFile(f.File("out.raw")));
    EXPECT_EQ((std::set<std::string>{"out.nhdr", "out.raw"}), Names(f.Path()));
  }

  const GroupCase GroupCases[] = {
    {"NothingThere", [](const TemporaryFolder &) { return true; }, nullptr, "",
     [](const TemporaryFolder &f) {
       EXPECT_EQ("new header", ReadFile(f.File("out.nhdr")));
       EXPECT_EQ("new data", ReadFile(f.File("out.raw")));
       EXPECT_EQ((std::set<std::string>{"out.nhdr", "out.raw"}), Names(f.Path()));
     }},
    {"PairReplacedKeepingPermissions",
     [](const TemporaryFolder &f) {
       WriteOldPair(f);
       return ::chmod(f.File("out.nhdr").c_str(), 0640) == 0 && ::chmod(f.File("out.raw").c_str(), 0600) == 0;
     },
     nullptr, "",
     [](const TemporaryFolder &f) {
       EXPECT_EQ("new header", ReadFile(f.File("out.nhdr")));
       EXPECT_EQ("new data", ReadFile(f.File("out.raw")));
       EXPECT_EQ(fs::perms(0640), fs::status(f.File("out.nhdr")).permissions() & fs::perms::mask);
       EXPECT_EQ(fs::perms(0600), fs::status(f.File("out.raw")).permissions() & fs::perms::mask);
       EXPECT_EQ((std::set<std::string>{"out.nhdr", "out.raw"}), Names(f.Path()));
     }},
    {"PairIntactAfterAFailedWrite", WriteOldPair,
     [](const TemporaryFolder &) { throw std::runtime_error("the disk is full"); }, "", ExpectOldPair},
    {"DataFileIsAFolder",
     [](const TemporaryFolder &f) {
       WriteText(f.File("out.nhdr"), "old header");
       return fs::create_directory(f.Path() / "out.raw");
     },
     nullptr, "out.raw\"): it is a folder.",
     [](const TemporaryFolder &f) {
       EXPECT_EQ("old header", ReadFile(f.File("out.nhdr")));
       EXPECT_TRUE(fs::is_empty(f.Path() / "out.raw"));
       EXPECT_EQ((std::set<std::string>{"out.nhdr", "out.raw"}), Names(f.Path()));
     }},
    // the header cannot be written once the data file is in place: the data file is put back as it was
    {"OldDataBackWhenTheHeaderCannotBeWritten",
     [](const TemporaryFolder &f) {
       WriteText(f.File("out.raw"), "old data");
       return ::mknod(f.File("out.nhdr").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0; // like /dev/full
     },
     nullptr, "out.nhdr\": No space left on device",
     [](const TemporaryFolder &f) {
       EXPECT_EQ("old data", ReadFile(f.File("out.raw")));
       EXPECT_EQ(S_IFCHR, vexa::test::FileTypeAt(f.File("out.nhdr")));
       EXPECT_EQ((std::set<std::string>{"out.nhdr", "out.raw"}), Names(f.Path()));
     }},
    {"NewDataGoneWhenTheHeaderCannotBeWritten",
     [](const TemporaryFolder &f) { return ::mknod(f.File("out.nhdr").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0; },
     nullptr, "out.nhdr\": No space left on device",
     [](const TemporaryFolder &f) { EXPECT_EQ(std::set<std::string>{"out.nhdr"}, Names(f.Path())); }},
    {"HeaderLinkedIntoAnotherFolder",
     [](const TemporaryFolder &f) {
       fs::create_directory(f.Path() / "data");
       WriteText(f.File("data/target.nhdr"), "old header");
       fs::create_symlink("data/target.nhdr", f.File("out.nhdr"));
       return true;
     },
     nullptr, "",
     [](const TemporaryFolder &f) {
       EXPECT_EQ(S_IFLNK, vexa::test::FileTypeAt(f.File("out.nhdr")));
       EXPECT_EQ("new header", ReadFile(f.File("data/target.nhdr")));
       EXPECT_EQ("new data", ReadFile(f.File("out.raw")));
       EXPECT_EQ(std::set<std::string>{"target.nhdr"}, Names(f.Path() / "data"));
       EXPECT_EQ((std::set<std::string>{"data", "out.nhdr", "out.raw"}), Names(f.Path()));
     }},
  };

  class SafeFileGroupReplace : public ::testing::TestWithParam<GroupCase>
  {
  };
}

TEST_P(SafeFileGroupReplace, MovesTheGroupIntoPlaceOrLeavesItAsItWas)
{
  const GroupCase &c = GetParam();
  TemporaryFolder folder;
  if (!c.prepare(folder))
    GTEST_SKIP() << "cannot make this kind of file here (device nodes need root)";
  const std::string path = folder.File("out.nhdr");
  std::string written;
  const auto write = [&](const std::string &name) {
    written = name;
    WriteText(name, "new header");
    WriteText((fs::path(name).parent_path() / "out.raw").string(), "new data");
    if (c.meanwhile)
      c.meanwhile(folder);
  };

  try
  {
    vexa::ReplaceFileGroupSafely(path, write);
    EXPECT_STREQ("", c.error) << "a failed write reported as success";
  }
  catch (const vexa::Exception &e)
  {
    EXPECT_THAT(e.GetDescription(), HasSubstr("Cannot write \"" + path + "\""));
    EXPECT_THAT(e.GetDescription(), HasSubstr(c.error));
    EXPECT_STRNE("", c.error) << e.GetDescription();
  }
  catch (const std::runtime_error &e)
  {
    EXPECT_STREQ("the disk is full", e.what()); // the writer's own, unchanged
  }
  // the writer writes under the file's own name in a new hidden folder beside it, gone afterwards
  const fs::path name(written);
  EXPECT_EQ("out.nhdr", name.filename().string());
  EXPECT_EQ(folder.Path(), name.parent_path().parent_path());
  EXPECT_EQ('.', name.parent_path().filename().string()[0]) << written;
  EXPECT_FALSE(fs::exists(name.parent_path())) << written;
  c.check(folder);
}

INSTANTIATE_TEST_SUITE_P(WhatIsThere,
                         SafeFileGroupReplace,
                         ::testing::ValuesIn(GroupCases),
                         [](const ::testing::TestParamInfo<GroupCase> &info) { return std::string(info.param.name); });

TEST(SafeFileReplaceFifo, AFifoIsWrittenToAndStaysAFifo)
{
  TemporaryFolder folder;
  const std::string path = folder.File("out.nrrd");
  ASSERT_EQ(0, ::mkfifo(path.c_str(), 0600));
  std::string received;
  std::thread reader([&] { received = ReadFile(path); });
  std::string written;
  vexa::ReplaceFileSafely(path, [&](const std::string &name) {
    written = name;
    WriteText(name, "through the pipe");
  });
  EXPECT_NE(path, written);
  reader.join();
  EXPECT_EQ("through the pipe", received);
  EXPECT_EQ(S_IFIFO, vexa::test::FileTypeAt(path));
  EXPECT_EQ(std::set<std::string>{"out.nrrd"}, Names(folder.Path()));
}

TEST(SafeFileReplaceRefusals, NameThePathAndTouchNothing)
{
  TemporaryFolder folder;
  fs::create_directory(folder.Path() / "a folder.nrrd");
  fs::create_symlink("loop-b", folder.File("loop-a"));
  fs::create_symlink("loop-a", folder.File("loop-b"));
  const std::set<std::string> before = Names(folder.Path());
  for (const std::string &path :
       {folder.File("a folder.nrrd"), folder.File("loop-a"), folder.File("no such folder/out.nrrd"), std::string()})
  {
    bool called = false;
    try
    {
      vexa::ReplaceFileSafely(path, [&](const std::string &) { called = true; });
      ADD_FAILURE() << "accepted " << path;
    }
    catch (const vexa::Exception &e)
    {
      EXPECT_THAT(e.GetDescription(), HasSubstr(path.empty() ? "no file name" : path));
    }
    EXPECT_FALSE(called) << path;
  }
  EXPECT_EQ(before, Names(folder.Path()));
  EXPECT_TRUE(fs::is_empty(folder.Path() / "a folder.nrrd"));
}

TEST(SafeFileReplaceRefusals, AWriteProtectedFileIsNotReplaced)
{
  if (::geteuid() == 0)
    GTEST_SKIP() << "root may write to any file: the protection cannot be shown";
  TemporaryFolder folder;
  const std::string path = folder.File("kept.nrrd");
  WriteText(path, "old");
  ASSERT_EQ(0, ::chmod(path.c_str(), 0444));
  EXPECT_THROW(vexa::ReplaceFileSafely(path, [](const std::string &name) { WriteText(name, "new"); }), vexa::Exception);
  EXPECT_EQ("old", ReadFile(path));
  EXPECT_EQ(std::set<std::string>{"kept.nrrd"}, Names(folder.Path()));
}

TEST(SafeFileReplaceConcurrency, ConcurrentGroupWritersLeaveOneWholeGroup)
{
  TemporaryFolder folder;
  const std::string path = folder.File("shared.nhdr");
  std::vector<std::thread> writers;
  for (int t = 0; t < 6; ++t)
    writers.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i)
        vexa::ReplaceFileGroupSafely(path, [&](const std::string &name) {
          WriteText(name, "header of " + std::to_string(t));
          WriteText((fs::path(name).parent_path() / "shared.raw").string(), "data of " + std::to_string(t));
        });
    });
  for (std::thread &w : writers)
    w.join();
  const std::string header = ReadFile(path);
  ASSERT_EQ(0u, header.find("header of ")) << header;
  EXPECT_EQ("data of " + header.substr(10), ReadFile(folder.File("shared.raw"))); // one writer's pair
  EXPECT_EQ((std::set<std::string>{"shared.nhdr", "shared.raw"}), Names(folder.Path()));
}

TEST(SafeFileReplaceConcurrency, ConcurrentWritersLeaveOneCompleteFile)
{
  TemporaryFolder folder;
  const std::string path = folder.File("shared.nrrd");
  std::vector<std::thread> writers;
  for (int t = 0; t < 6; ++t)
    writers.emplace_back([&, t] {
      const std::string content(4096 + t, static_cast<char>('a' + t));
      for (int i = 0; i < 20; ++i)
        vexa::ReplaceFileSafely(path, [&](const std::string &name) { WriteText(name, content); });
    });
  for (std::thread &w : writers)
    w.join();
  const std::string result = ReadFile(path);
  ASSERT_GE(result.size(), 4096u);
  EXPECT_EQ(std::string(result.size(), result[0]), result); // one writer's whole file
  EXPECT_EQ(std::set<std::string>{"shared.nrrd"}, Names(folder.Path()));
}

TEST(SafeFileReplaceTermination, ASignalDuringAWriteRemovesTheTemporaries)
{
  using Replace = void (*)(const std::string &, const std::function<void(const std::string &)> &);
  for (const Replace replace : {&vexa::ReplaceFileSafely, &vexa::ReplaceFileGroupSafely})
  {
    TemporaryFolder folder;
    const std::string path = folder.File("out.nrrd");
    const std::string ready = folder.File("writing");
    WriteText(path, "old");

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
      std::signal(SIGHUP, SIG_IGN); // ignored before: stays ignored
      vexa::RemoveTemporaryFilesOnTermination();
      ::raise(SIGHUP);
      replace(path, [&](const std::string &name) {
        WriteText(name, "half of it");
        if (fs::path(name).parent_path() != folder.Path()) // a group's temporary folder
          WriteText(name + ".raw", "and its data");
        WriteText(ready, "");
        for (;;)
          ::pause();
      });
      ::_exit(0);
    }
    for (int i = 0; i < 3000 && !fs::exists(ready); ++i)
      ::usleep(10000);
    ASSERT_TRUE(fs::exists(ready)) << "the writer did not start";
    ::kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status; // ended as SIGTERM ends a program
    EXPECT_EQ("old", ReadFile(path));
    EXPECT_EQ((std::set<std::string>{"out.nrrd", "writing"}), Names(folder.Path()));
  }
}
