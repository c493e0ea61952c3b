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
#include <sys/wait.h>

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
