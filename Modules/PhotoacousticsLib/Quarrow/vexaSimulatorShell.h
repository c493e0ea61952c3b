#ifndef vexaSimulatorShell_h
#define vexaSimulatorShell_h

// How the generator programs hand a volume to the outside light simulator:
// every path and value is quoted for the shell, and the simulator's exit
// status (not the raw wait status) is what the programs log.

#include <vexaException.h>

#include <itksys/SystemTools.hxx>

#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vexa
{
  /** One argument for the POSIX shell: in single quotes, each quote inside written as '\''. */
  inline std::string ShellQuoted(const std::string &text)
  {
    std::string quoted = "'";
    for (char c : text)
    {
      if (c == '\'')
        quoted += "'\\''";
      else
        quoted += c;
    }
    return quoted + "'";
  }

  /**
   * Runs the command through the shell and answers the command's exit status
   * (128 + the signal number when a signal ended it, -1 when no shell could
   * be started), not the raw wait status.
   *
   * The shell ignores an interrupt of the terminal while the simulator runs,
   * so an interrupt ends only the simulator; the program then ends too, as
   * the user asked, by the same signal.
   */
  inline int RunShellCommand(const std::string &command)
  {
    const int result = std::system(command.c_str());
    if (result == -1)
      return -1;
    if (WIFSIGNALED(result))
    {
      const int signal = WTERMSIG(result);
      if (signal == SIGINT || signal == SIGQUIT)
      {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
      }
      return 128 + signal;
    }
    return WIFEXITED(result) ? WEXITSTATUS(result) : result;
  }

  /** Exit statuses with which the shell says it could not start the command at all. */
  constexpr int ShellCannotExecute = 126;
  constexpr int ShellCommandNotFound = 127;

  namespace detail
  {
    inline bool IsExecutableFile(const std::string &path)
    {
      struct stat info;
      return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
    }
  }

  /**
   * Makes sure the shell can start the simulator before any work is done for
   * it: a name with a slash is used as it is; a name without one is looked
   * for in PATH as the shell looks for it (an empty entry is the current
   * folder; without PATH the system's default path). Throws vexa::Exception
   * saying what is wrong. A program that passes may still fail to run (a
   * script whose interpreter is missing): RunShellCommand then answers 126
   * or 127.
   */
  inline void CheckSimulator(const std::string &simulator)
  {
    if (simulator.empty())
      vexaThrow() << "No simulator given: name the VexaMcxyz program with -m.";
    if (simulator.find('/') != std::string::npos)
    {
      struct stat info;
      if (::stat(simulator.c_str(), &info) != 0)
        vexaThrow() << "The simulator \"" << simulator << "\" does not exist.";
      if (S_ISDIR(info.st_mode))
        vexaThrow() << "The simulator \"" << simulator << "\" is a folder, not a program.";
      if (!detail::IsExecutableFile(simulator))
        vexaThrow() << "The simulator \"" << simulator << "\" is not an executable file.";
      return;
    }
    std::string path;
    if (const char *variable = std::getenv("PATH"))
      path = variable;
    else
    {
      const std::size_t n = ::confstr(_CS_PATH, nullptr, 0);
      path.resize(n);
      if (n > 0)
      {
        ::confstr(_CS_PATH, &path[0], n);
        path.resize(n - 1);
      }
    }
    std::string::size_type start = 0;
    while (true)
    {
      const std::string::size_type end = path.find(':', start);
      const std::string folder = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (detail::IsExecutableFile((folder.empty() ? std::string(".") : folder) + "/" + simulator))
        return;
      if (end == std::string::npos)
        break;
      start = end + 1;
    }
    vexaThrow() << "The simulator \"" << simulator << "\" is not an executable program in PATH (" << path << ").";
  }

  /** The folder the user named, ending in a separator, so that names are put inside it. */
  inline std::string AsFolder(const std::string &path)
  {
    if (path.empty() || path.back() == '/')
      return path;
    return path + "/";
  }

  inline void MakeFolder(const std::string &path)
  {
    if (!itksys::SystemTools::FileIsDirectory(path) && !itksys::SystemTools::MakeDirectory(path))
      vexaThrow() << "Cannot create the folder \"" << path << "\".";
  }
}

#endif
