#include "vexaSafeFileReplace.h"

#include "vexaException.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vexa
{
  namespace
  {
    // The temporaries of writes in progress, readable from a signal handler:
    // a slot is claimed (Filling), its name copied, then published (Ready);
    // the handler touches only Ready slots and calls nothing but unlink().
    // A slot is published before the writer creates the file and withdrawn
    // after the rename, so no temporary exists outside a Ready slot.
    enum SlotState : int
    {
      Free = 0,
      Filling = 1,
      Ready = 2
    };

    struct PendingSlot
    {
      std::atomic<int> state{Free};
      char path[PATH_MAX];
    };

    static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

    constexpr int SlotCount = 64;
    PendingSlot g_Pending[SlotCount];

    /** Publishes the name; answers the slot, or -1 when every slot is taken or the name too long. */
    int Publish(const std::string &path)
    {
      if (path.size() >= PATH_MAX)
        return -1;
      for (int i = 0; i < SlotCount; ++i)
      {
        int expected = Free;
        if (g_Pending[i].state.compare_exchange_strong(expected, Filling))
        {
          std::memcpy(g_Pending[i].path, path.c_str(), path.size() + 1);
          g_Pending[i].state.store(Ready);
          return i;
        }
      }
      return -1;
    }

    void Withdraw(int slot)
    {
      if (slot >= 0)
        g_Pending[slot].state.store(Free);
    }

    std::string Reason(int error) { return std::strerror(error); }

    std::string FolderOf(const std::string &path)
    {
      const std::string::size_type slash = path.find_last_of('/');
      if (slash == std::string::npos)
        return ".";
      return slash == 0 ? "/" : path.substr(0, slash);
    }

    std::string NameOf(const std::string &path)
    {
      const std::string::size_type slash = path.find_last_of('/');
      return slash == std::string::npos ? path : path.substr(slash + 1);
    }

    /** ".nrrd" of "a/b.nrrd"; empty for "a/b" and for a hidden name such as ".profile". */
    std::string ExtensionOf(const std::string &path)
    {
      const std::string name = NameOf(path);
      const std::string::size_type dot = name.find_last_of('.');
      return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot);
    }

    /**
     * Follows symbolic links from `path` until a name that is not a link.
     * Answers that name; `exists` tells whether something is there, `info`
     * holds what it is.
     */
    std::string FollowLinks(const std::string &path, struct stat &info, bool &exists)
    {
      std::string current = path;
      for (int hops = 0; hops < 40; ++hops)
      {
        if (::lstat(current.c_str(), &info) != 0)
        {
          const int error = errno;
          if (error == ENOENT)
          {
            exists = false;
            return current;
          }
          vexaThrow() << "Cannot write \"" << path << "\": " << Reason(error) << ".";
        }
        if (!S_ISLNK(info.st_mode))
        {
          exists = true;
          return current;
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(current.c_str(), &target[0], target.size());
        if (length < 0 || static_cast<std::size_t>(length) >= target.size())
          vexaThrow() << "Cannot write \"" << path << "\": the link \"" << current << "\" cannot be read.";
        target.resize(static_cast<std::size_t>(length));
        current = (target.empty() || target[0] == '/') ? target : FolderOf(current) + "/" + target;
      }
      vexaThrow() << "Cannot write \"" << path << "\": too many levels of symbolic links.";
    }

    std::string TemporaryNameFor(const std::string &target, const std::string &extension)
    {
      static std::atomic<unsigned long> counter{0};
      // a short enough name for any file system, whatever the target's name
      std::string stem = NameOf(target);
      if (stem.size() > 96)
        stem.resize(96);
      return FolderOf(target) + "/." + stem + ".partial-" + std::to_string(::getpid()) + "-" +
             std::to_string(counter++) + extension;
    }

    /** Makes the folder's new entry durable; a folder that cannot be synchronised changes nothing. */
    void SyncFolder(const std::string &folder)
    {
      const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd >= 0)
      {
        ::fsync(fd);
        ::close(fd);
      }
    }

    /** Writes all bytes, however the kernel splits them; false with errno set on failure. */
    bool WriteAll(int fd, const char *data, std::size_t size)
    {
      while (size > 0)
      {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
          continue;
        if (n <= 0)
        {
          if (n == 0)
            errno = EIO;
          return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
      }
      return true;
    }

    /**
     * A device, FIFO or socket is written to, never replaced. The writer
     * writes a regular file in the system's temporary folder first (writers do
     * not all notice a failed write: a compressing writer reports success on a
     * full device), whose bytes then go to the target with every write checked.
     */
    void WriteThrough(const std::string &path, const std::function<void(const std::string &)> &write)
    {
      const char *folder = std::getenv("TMPDIR");
      const std::string staging = TemporaryNameFor(std::string(folder && *folder ? folder : "/tmp") + "/vexa-" +
                                                     NameOf(path),
                                                   ExtensionOf(path));
      const int slot = Publish(staging);
      try
      {
        write(staging);
        const int in = ::open(staging.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0)
          vexaThrow() << "Cannot write \"" << path << "\": the written file is missing (" << Reason(errno) << ").";
        const int out = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (out < 0)
        {
          const int error = errno;
          ::close(in);
          vexaThrow() << "Cannot write \"" << path << "\": " << Reason(error) << ".";
        }
        std::vector<char> buffer(1 << 16);
        int error = 0;
        while (error == 0)
        {
          const ssize_t n = ::read(in, buffer.data(), buffer.size());
          if (n < 0 && errno == EINTR)
            continue;
          if (n < 0)
            error = errno;
          if (n <= 0)
            break;
          if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n)))
            error = errno;
        }
        ::close(in);
        if (::close(out) != 0 && error == 0)
          error = errno;
        if (error != 0)
          vexaThrow() << "Cannot write \"" << path << "\": " << Reason(error) << ".";
      }
      catch (...)
      {
        ::unlink(staging.c_str());
        Withdraw(slot);
        throw;
      }
      ::unlink(staging.c_str());
      Withdraw(slot);
    }

    extern "C" void RemoveTemporariesAndEnd(int signal)
    {
      RemovePendingTemporaryFiles();
      struct sigaction defaults;
      std::memset(&defaults, 0, sizeof(defaults));
      defaults.sa_handler = SIG_DFL;
      sigemptyset(&defaults.sa_mask);
      ::sigaction(signal, &defaults, nullptr);
      // blocked while this handler runs: delivered, with its default action, when it returns
      ::raise(signal);
    }
  }

  void ReplaceFileSafely(const std::string &path, const std::function<void(const std::string &)> &write)
  {
    if (path.empty())
      vexaThrow() << "Cannot write a file: no file name given.";

    struct stat info;
    bool exists = false;
    const std::string target = FollowLinks(path, info, exists);
    if (exists && S_ISDIR(info.st_mode))
      vexaThrow() << "Cannot write \"" << path << "\": it is a folder.";
    if (exists && !S_ISREG(info.st_mode))
    {
      WriteThrough(path, write);
      return;
    }

    // the rename would go through a write protection that writing in place respects
    if (exists && ::access(target.c_str(), W_OK) != 0)
      vexaThrow() << "Cannot write \"" << path << "\": the file is write-protected.";

    const std::string folder = FolderOf(target);
    struct stat folderInfo;
    if (::stat(folder.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode))
      vexaThrow() << "Cannot write \"" << path << "\": the folder \"" << folder << "\" does not exist.";
    if (::access(folder.c_str(), W_OK) != 0)
      vexaThrow() << "Cannot write \"" << path << "\": the folder \"" << folder << "\" is not writable.";

    const std::string temporary = TemporaryNameFor(target, ExtensionOf(path));
    const int slot = Publish(temporary);
    try
    {
      write(temporary);

      const int fd = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0)
        vexaThrow() << "Cannot write \"" << path << "\": the written file is missing (" << Reason(errno) << ").";
      const bool synced = ::fsync(fd) == 0;
      const int syncError = errno;
      // the replacement keeps the owner (where we may set it) and permissions of the file it replaces
      if (exists)
      {
        if (::fchown(fd, info.st_uid, info.st_gid) != 0)
        {
          // not ours to give away: the new file stays ours, like any file we create
        }
        ::fchmod(fd, info.st_mode & 07777);
      }
      ::close(fd);
      if (!synced)
        vexaThrow() << "Cannot write \"" << path << "\": " << Reason(syncError) << ".";
      if (::rename(temporary.c_str(), target.c_str()) != 0)
        vexaThrow() << "Cannot write \"" << path << "\": " << Reason(errno) << ".";
    }
    catch (...)
    {
      ::unlink(temporary.c_str());
      Withdraw(slot);
      throw;
    }
    Withdraw(slot);
    SyncFolder(folder);
  }

  void RemovePendingTemporaryFiles() noexcept
  {
    for (PendingSlot &slot : g_Pending)
    {
      if (slot.state.load() == Ready)
        ::unlink(slot.path);
    }
  }

  void RemoveTemporaryFilesOnTermination()
  {
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
    {
      struct sigaction previous;
      if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
        continue;
      struct sigaction handler;
      std::memset(&handler, 0, sizeof(handler));
      handler.sa_handler = &RemoveTemporariesAndEnd;
      sigemptyset(&handler.sa_mask);
      ::sigaction(signal, &handler, nullptr);
    }
  }
}
