#ifndef vexaGeneratorProgramTestSupport_h
#define vexaGeneratorProgramTestSupport_h

// What the tests of the generator programs share besides VexaTestSupport's
// temporary folder and child processes: a stand-in simulator script that
// records its arguments and writes its -o file, the texts of a program's log
// records and the first line of its error, and the guards of every run.

#include <vexaTestChildProcess.h>
#include <vexaTestTemporaryFolder.h>
#include <vexaTestWaitUntil.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <iterator>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace vexa
{
  namespace test
  {
    namespace fs = std::filesystem;

    /**
     * A simulator stand-in: a shell script in the folder (its name has a
     * space) that appends one record per call to calls.txt beside it (a line
     * "CALL", then "ARG <argument>" per argument), writes a small file to the
     * path after -o and exits with the given status.
     */
    inline fs::path WriteStandInSimulator(const fs::path &folder, int exitStatus)
    {
      const fs::path script = folder / "stand in simulator.sh";
      std::ofstream out(script);
      out << "#!/bin/sh\n"
             "log=\"$(dirname \"$0\")/calls.txt\"\n"
             "{ echo CALL; for a in \"$@\"; do printf 'ARG %s\\n' \"$a\"; done; } >> \"$log\"\n"
             "while [ $# -gt 0 ]; do\n"
             "  if [ \"$1\" = \"-o\" ]; then printf 'fluence' > \"$2\"; fi\n"
             "  shift\n"
             "done\n"
             "exit "
          << exitStatus << "\n";
      out.close();
      fs::permissions(script, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
      return script;
    }

    /** The recorded calls of the stand-in simulator, each as its argument list. */
    inline std::vector<std::vector<std::string>> RecordedCalls(const fs::path &simulator)
    {
      std::vector<std::vector<std::string>> calls;
      std::istringstream in(ReadFile((simulator.parent_path() / "calls.txt").string()));
      std::string line;
      while (std::getline(in, line))
      {
        if (line == "CALL")
          calls.emplace_back();
        else if (line.rfind("ARG ", 0) == 0 && !calls.empty())
          calls.back().push_back(line.substr(4));
      }
      return calls;
    }

    using vexa::test::ChildProcess;
    using vexa::test::PeakResidentKiBOfChildren;
    using vexa::test::TemporaryFolder;

    /**
     * How the generator programs are started: in a process group of their own,
     * like a job a terminal starts, so that "kill -INT 0" from the simulator
     * reaches the program and its shell the way an interrupt key does.
     */
    inline ChildProcess::Options AsAJob(std::vector<std::string> environment = {})
    {
      ChildProcess::Options options;
      options.ownProcessGroup = true;
      options.environment = std::move(environment);
      return options;
    }

    /** The texts of the INFO records in a program's standard error, in order. */
    inline std::vector<std::string> InfoTexts(const std::string &stderrText)
    {
      std::vector<std::string> texts;
      std::istringstream in(stderrText);
      std::string line;
      while (std::getline(in, line))
      {
        if (line.rfind("INFO", 0) != 0)
          continue;
        const std::string::size_type end = line.find("): ");
        if (end != std::string::npos)
          texts.push_back(line.substr(end + 3));
      }
      return texts;
    }

    /**
     * Guards of every run against a hang and a runaway allocation, with far
     * more room than a sound run needs (a pass takes a second or two and
     * ~150 MB, a few times that under AddressSanitizer).
     */
    constexpr std::chrono::seconds TimeGuard(120);
    constexpr long MemoryGuardKiB = 2 * 1024 * 1024;

    /** The first line of the program's own error: not a log record, nor the shell's complaint ("sh: ..."). */
    inline std::string FirstErrorLine(const std::string &stderrText)
    {
      std::istringstream in(stderrText);
      std::string line;
      while (std::getline(in, line))
        if (line.rfind("INFO ", 0) != 0 && line.rfind("sh: ", 0) != 0)
          return line;
      return std::string();
    }

    /** Number of entries in the folder; 0 when there is no such folder. */
    inline std::size_t FilesIn(const fs::path &folder)
    {
      std::error_code ec;
      return fs::is_directory(folder, ec)
               ? static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()))
               : 0;
    }

    /** POSIX shell quoting, the way the programs quote every path and value. */
    inline std::string Quoted(const std::string &text)
    {
      std::string q = "'";
      for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
      return q + "'";
    }
  }
}

#endif
