#ifndef vexaTestChildProcess_h
#define vexaTestChildProcess_h

#include "vexaTestTemporaryFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vexa
{
  namespace test
  {
    /**
     * A program started as a child process of the test, without a shell: the
     * arguments reach it as they are. Its standard output and error go into
     * files of a private temporary folder (no pipe can fill up and block it),
     * its standard input is /dev/null. It starts with the default handling of
     * every signal and none blocked, whatever the test runner set.
     *
     * A child still running when the object goes is killed (its whole process
     * group when it has one of its own) and reaped. Not thread-safe: one
     * thread owns the object.
     */
    class ChildProcess
    {
    public:
      struct Options
      {
        /** Where the program starts (empty: the test's working directory). */
        std::string workingDirectory;
        /** Added to (or replacing in) the test's environment, each "NAME=value". */
        std::vector<std::string> environment;
        /** A process group of its own, as a terminal gives a job: Signal() then reaches its children too. */
        bool ownProcessGroup = false;
      };

      ChildProcess(const std::string &program, const std::vector<std::string> &arguments);
      ChildProcess(const std::string &program, const std::vector<std::string> &arguments, const Options &options);
      ~ChildProcess();
      ChildProcess(const ChildProcess &) = delete;
      ChildProcess &operator=(const ChildProcess &) = delete;

      /** False when the program could not be started (StartError() says why). */
      bool Started() const { return m_Pid > 0; }
      const std::string &StartError() const { return m_StartError; }
      pid_t Pid() const { return m_Pid; }

      /** Waits up to `timeout` for the end; true once it has ended (or never started). */
      bool WaitFor(std::chrono::milliseconds timeout);
      /** Waits for the end, however long it takes. */
      void Wait();
      bool Running();

      /**
       * The exit code of a program that returned or called exit; 128 + the
       * signal number when a signal ended it (as a shell reports it); -1 while
       * it runs or when it never started.
       */
      int ExitCode();
      /** The signal that ended it, 0 when none did. */
      int TermSignal();

      /** Sends a signal to the program (to its group with ownProcessGroup). False when it has ended. */
      bool Signal(int signal);

      /** What it wrote so far to standard output / standard error. */
      std::string Out() const;
      std::string Err() const;

    private:
      void Reap(bool block);

      TemporaryFolder m_Folder;
      pid_t m_Pid = -1;
      bool m_OwnGroup = false;
      bool m_Ended = false;
      int m_Status = 0;
      std::string m_StartError;
    };

    /** What a program run by RunProgram did. */
    struct ProgramResult
    {
      bool started = false;
      bool timedOut = false; // it was killed at the time limit
      int exitCode = -1;     // as ChildProcess::ExitCode
      std::string out;
      std::string err;
    };

    /**
     * The largest peak resident memory, in KiB, of any child process this
     * test program has waited for so far, their own waited-for children
     * included. Checked after runs, it is a guard against a runaway
     * allocation: below a bound, no child ever went past it.
     */
    long PeakResidentKiBOfChildren();

    /**
     * Passes when the program started, ended before its time limit and
     * returned 0; otherwise the failure says which of these it did not, with
     * what the program wrote (ASSERT_TRUE(RanToSuccess(run))).
     */
    ::testing::AssertionResult RanToSuccess(const ProgramResult &run);

    /** Runs a program to its end, killing it at the time limit. */
    ProgramResult RunProgram(const std::string &program,
                             const std::vector<std::string> &arguments,
                             std::chrono::milliseconds timeLimit = std::chrono::seconds(120),
                             const ChildProcess::Options &options = ChildProcess::Options());
  }
}

#endif
