#ifndef vexaTestHostileFiles_h
#define vexaTestHostileFiles_h

// Hostile files for a program that reads one file and writes another: a
// table of cases, each of which prepares the input and what stands at the
// output, and says how the program must end, the first line of its error and
// what must be true of the output afterwards. A parameterised test runs the
// program on each case (ValuesIn(table), HostileFileCaseName).

#include "vexaTestTemporaryFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <functional>
#include <string>

namespace vexa
{
  namespace test
  {
    struct HostileFileCase
    {
      const char *name;
      /**
       * Writes the input to `in` (given the bytes of a sound input) and makes
       * what stands at the output; answers the output's path, or empty when
       * this case cannot be made here (device nodes need root).
       */
      std::function<std::string(const TemporaryFolder &, const std::string &in, const std::string &sound)> prepare;
      int exitCode;
      /** The start of the first line of standard error, <in> and <out> for the two paths; empty: no error at all. */
      const char *firstLine;
      /** What must be true of the output afterwards. */
      std::function<void(const TemporaryFolder &, const std::string &out)> check;
    };

    /** The test name of a case. */
    inline std::string HostileFileCaseName(const ::testing::TestParamInfo<HostileFileCase> &info)
    {
      return info.param.name;
    }

    /** Every `what` in `text` replaced by `with`. */
    inline std::string ReplaceAll(std::string text, const std::string &what, const std::string &with)
    {
      for (std::string::size_type at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
      return text;
    }

    /** The text up to its first line break. */
    inline std::string FirstLine(const std::string &text) { return text.substr(0, text.find('\n')); }

    /** Expects the program's standard error to be what the case says, its paths put in. */
    inline void ExpectFirstErrorLine(const HostileFileCase &c,
                                     const std::string &err,
                                     const std::string &in,
                                     const std::string &out)
    {
      const std::string expected = ReplaceAll(ReplaceAll(c.firstLine, "<in>", in), "<out>", out);
      if (expected.empty())
        EXPECT_EQ("", err);
      else
        EXPECT_EQ(0u, FirstLine(err).find(expected)) << err;
    }

    /** What an earlier run left at the output. */
    inline const std::string OldOutput = "the result of an earlier run";

    /** OldOutput at `name` in the folder; its path. */
    inline std::string OldOutputAt(const TemporaryFolder &folder, const std::string &name = "out.nrrd")
    {
      WriteBytes(folder.File(name), OldOutput);
      return folder.File(name);
    }

    /** Expects the output to hold what the earlier run left there. */
    inline void OldOutputIntact(const TemporaryFolder &, const std::string &out)
    {
      EXPECT_EQ(OldOutput, ReadFile(out));
    }

    /**
     * A character device at `name` in the folder, of the kind of /dev/null
     * (minor 3) or /dev/full (minor 7); its path, or empty where the test may
     * not make one (not root).
     */
    inline std::string CharacterDeviceAt(const TemporaryFolder &folder, const std::string &name, unsigned minor)
    {
      const std::string path = folder.File(name);
      return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0 ? path : std::string();
    }

    /**
     * At `name` in the folder, a link "results/kept.nrrd" to a file of the
     * folder's results/ that holds `kept`: an output that is a link. Its path.
     */
    inline std::string LinkToKeptFile(const TemporaryFolder &folder,
                                      const std::string &kept,
                                      const std::string &name = "out.nrrd")
    {
      std::filesystem::create_directory(folder.File("results"));
      WriteBytes(folder.File("results/kept.nrrd"), kept);
      std::filesystem::create_symlink("results/kept.nrrd", folder.File(name));
      return folder.File(name);
    }
  }
}

#endif
