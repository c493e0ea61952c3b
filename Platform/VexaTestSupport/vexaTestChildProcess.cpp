#include "vexaTestChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace vexa
{
  namespace test
  {
    namespace
    {
      std::string ReadText(const std::string &path)
      {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
      }

      // The test's environment with the options' entries put over it, in a stable order.
      std::vector<std::string> Environment(const std::vector<std::string> &extra)
      {
        std::map<std::string, std::string> entries;
        auto put = [&](const std::string &entry) {
          const auto equals = entry.find('=');
          entries[entry.substr(0, equals)] = entry;
        };
        for (char **e = environ; e && *e; ++e)
          put(*e);
        for (const std::string &entry : extra)
          put(entry);
        std::vector<std::string> all;
        for (const auto &entry : entries)
          all.push_back(entry.second);
        return all;
      }

      std::vector<char *> Pointers(std::vector<std::string> &texts)
      {
        std::vector<char *> pointers;
        for (std::string &text : texts)
          pointers.push_back(&text[0]);
        pointers.push_back(nullptr);
        return pointers;
      }
    }

    ChildProcess::ChildProcess(const std::string &program, const std::vector<std::string> &arguments)
      : ChildProcess(program, arguments, Options())
    {
    }

    ChildProcess::ChildProcess(const std::string &program,
                               const std::vector<std::string> &arguments,
                               const Options &options)
      : m_OwnGroup(options.ownProcessGroup)
    {
      std::vector<std::string> argv{program};
      argv.insert(argv.end(), arguments.begin(), arguments.end());
      std::vector<std::string> envp = Environment(options.environment);
      std::vector<char *> argvPointers = Pointers(argv), envpPointers = Pointers(envp);
      const std::string out = m_Folder.File("stdout"), err = m_Folder.File("stderr");

      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
      posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (!options.workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());

      // the test runner may ignore or block signals, and children inherit both
      posix_spawnattr_t attributes;
      posix_spawnattr_init(&attributes);
      sigset_t all, none;
      sigfillset(&all);
      sigdelset(&all, SIGKILL);
      sigdelset(&all, SIGSTOP);
      sigemptyset(&none);
      posix_spawnattr_setsigdefault(&attributes, &all);
      posix_spawnattr_setsigmask(&attributes, &none);
      short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
      if (m_OwnGroup)
      {
        posix_spawnattr_setpgroup(&attributes, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
      }
      posix_spawnattr_setflags(&attributes, flags);

      pid_t pid = -1;
      const int result =
        posix_spawn(&pid, program.c_str(), &actions, &attributes, argvPointers.data(), envpPointers.data());
      posix_spawnattr_destroy(&attributes);
      posix_spawn_file_actions_destroy(&actions);
      if (result != 0)
        m_StartError = "cannot start " + program + ": " + std::strerror(result);
      else
        m_Pid = pid;
    }

    ChildProcess::~ChildProcess()
    {
      if (Started() && !m_Ended)
      {
        if (m_OwnGroup)
          ::kill(-m_Pid, SIGKILL);
        else
          ::kill(m_Pid, SIGKILL);
        Reap(true);
      }
    }

    void ChildProcess::Reap(bool block)
    {
      if (!Started() || m_Ended)
        return;
      int status = 0;
      pid_t r;
      do
        r = ::waitpid(m_Pid, &status, block ? 0 : WNOHANG);
      while (r < 0 && errno == EINTR);
      if (r == m_Pid)
      {
        m_Status = status;
        m_Ended = true;
      }
      else if (r < 0)
        m_Ended = true; // not our child any more (reaped elsewhere): nothing to wait for
    }

    bool ChildProcess::WaitFor(std::chrono::milliseconds timeout)
    {
      const auto end = std::chrono::steady_clock::now() + timeout;
      for (;;)
      {
        Reap(false);
        if (!Started() || m_Ended)
          return true;
        if (std::chrono::steady_clock::now() >= end)
          return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    }

    void ChildProcess::Wait() { Reap(true); }

    bool ChildProcess::Running()
    {
      Reap(false);
      return Started() && !m_Ended;
    }

    int ChildProcess::ExitCode()
    {
      if (Running() || !Started())
        return -1;
      if (WIFEXITED(m_Status))
        return WEXITSTATUS(m_Status);
      if (WIFSIGNALED(m_Status))
        return 128 + WTERMSIG(m_Status);
      return -1;
    }

    int ChildProcess::TermSignal()
    {
      if (Running() || !Started())
        return 0;
      return WIFSIGNALED(m_Status) ? WTERMSIG(m_Status) : 0;
    }

    bool ChildProcess::Signal(int signal)
    {
      if (!Running())
        return false;
      return ::kill(m_OwnGroup ? -m_Pid : m_Pid, signal) == 0;
    }

    std::string ChildProcess::Out() const { return ReadText(m_Folder.File("stdout")); }

    std::string ChildProcess::Err() const { return ReadText(m_Folder.File("stderr")); }

    long PeakResidentKiBOfChildren()
    {
      rusage usage{};
      ::getrusage(RUSAGE_CHILDREN, &usage);
      return usage.ru_maxrss;
    }

    ::testing::AssertionResult RanToSuccess(const ProgramResult &run)
    {
      if (run.started && !run.timedOut && run.exitCode == 0)
        return ::testing::AssertionSuccess();
      ::testing::AssertionResult failure = ::testing::AssertionFailure();
      if (!run.started)
        failure << "the program did not start";
      else if (run.timedOut)
        failure << "the program was killed at its time limit";
      else
        failure << "the program returned " << run.exitCode;
      return failure << "; what it wrote:\n" << run.out << run.err;
    }

    ProgramResult RunProgram(const std::string &program,
                             const std::vector<std::string> &arguments,
                             std::chrono::milliseconds timeLimit,
                             const ChildProcess::Options &options)
    {
      ProgramResult result;
      ChildProcess child(program, arguments, options);
      result.started = child.Started();
      if (!result.started)
      {
        result.err = child.StartError();
        return result;
      }
      if (!child.WaitFor(timeLimit))
      {
        result.timedOut = true;
        child.Signal(SIGKILL);
        child.Wait();
      }
      result.exitCode = child.ExitCode();
      result.out = child.Out();
      result.err = child.Err();
      return result;
    }
  }
}
