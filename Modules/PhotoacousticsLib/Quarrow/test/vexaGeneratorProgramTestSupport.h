#ifndef vexaGeneratorProgramTestSupport_h
#define vexaGeneratorProgramTestSupport_h

// What the tests of the generator programs share: a temporary folder, a
// stand-in simulator script that records its arguments and writes its -o
// file, a program run as a child process, and the texts of its log records.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <spawn.h>
#include <sstream>
#include <string>
#include <iterator>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace vexa
{
  namespace test
  {
    namespace fs = std::filesystem;

    inline std::string ReadText(const fs::path &path)
    {
      std::ifstream in(path, std::ios::binary);
      std::ostringstream s;
      s << in.rdbuf();
      return s.str();
    }

    /** A folder of its own for one test (its name holds a space), removed with everything in it. */
    class TemporaryFolder
    {
    public:
      TemporaryFolder()
      {
        const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_Path = fs::path(::testing::TempDir()) /
                 (std::string("vexa gen ") + info->name() + "_" + std::to_string(::getpid()));
        fs::remove_all(m_Path);
        fs::create_directories(m_Path);
      }
      ~TemporaryFolder()
      {
        std::error_code ignored;
        fs::remove_all(m_Path, ignored);
      }
      const fs::path &Path() const { return m_Path; }

    private:
      fs::path m_Path;
    };

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
      std::istringstream in(ReadText(simulator.parent_path() / "calls.txt"));
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

    /** Polls the condition every 20 ms until it holds or the time is up; answers the last result. */
    inline bool WaitFor(const std::function<bool()> &condition, std::chrono::seconds timeout)
    {
      const auto end = std::chrono::steady_clock::now() + timeout;
      while (!condition())
      {
        if (std::chrono::steady_clock::now() > end)
          return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      return true;
    }

    /** A program started as a child process, its standard output and error going into files. */
    class ChildProcess
    {
    public:
      ChildProcess(const std::string &program, const std::vector<std::string> &args, const fs::path &outputFolder)
        : m_Out(outputFolder / "program stdout.txt"), m_Err(outputFolder / "program stderr.txt")
      {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, m_Out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, m_Err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> all{program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (std::string &a : all)
          argv.push_back(&a[0]);
        argv.push_back(nullptr);
        // the test runner may ignore interrupts, and ignored signals are inherited: start from the defaults
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGQUIT);
        sigaddset(&defaults, SIGTERM);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        // a process group of its own, like a job a terminal starts: "kill -INT 0" from the
        // simulator then reaches the program and its shell the way an interrupt key does
        posix_spawnattr_setpgroup(&attributes, 0);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
        if (posix_spawn(&m_Pid, program.c_str(), &actions, &attributes, argv.data(), environ) != 0)
          m_Pid = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
      }
      ~ChildProcess()
      {
        if (m_Pid > 0 && !m_Waited)
        {
          ::kill(m_Pid, SIGKILL);
          Wait();
        }
      }

      pid_t Pid() const { return m_Pid; }

      /** Waits for the end; answers the raw wait status. */
      int Wait()
      {
        if (m_Pid > 0 && !m_Waited)
        {
          while (::waitpid(m_Pid, &m_Status, 0) < 0 && errno == EINTR)
          {
          }
          m_Waited = true;
        }
        return m_Status;
      }

      /** Waits up to the time-out for the end; false when it is still running. */
      bool WaitFor(std::chrono::seconds timeout)
      {
        return vexa::test::WaitFor(
          [this] {
            if (m_Waited)
              return true;
            const pid_t r = ::waitpid(m_Pid, &m_Status, WNOHANG);
            if (r == m_Pid)
              m_Waited = true;
            return m_Waited;
          },
          timeout);
      }

      /** Exit code of a normal end, -1 otherwise. */
      int ExitCode()
      {
        const int status = Wait();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }

      std::string Out() const { return ReadText(m_Out); }
      std::string Err() const { return ReadText(m_Err); }

    private:
      fs::path m_Out;
      fs::path m_Err;
      pid_t m_Pid = -1;
      int m_Status = 0;
      bool m_Waited = false;
    };

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

    /** The largest peak resident memory of any child process (and its children) waited for so far. */
    inline long PeakResidentKiBOfChildren()
    {
      rusage usage{};
      ::getrusage(RUSAGE_CHILDREN, &usage);
      return usage.ru_maxrss;
    }

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
