#include "vexaSafeFileReplace.h"

#include "vexaException.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <mutex>
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
      bool folder = false; ///< a temporary folder: its files go, then the folder
      char path[PATH_MAX];
    };

    static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

    constexpr int SlotCount = 64;
    PendingSlot g_Pending[SlotCount];

    /** Publishes the name; answers the slot, or -1 when every slot is taken or the name too long. */
    int Publish(const std::string &path, bool folder = false)
    {
      if (path.size() >= PATH_MAX)
        return -1;
      for (int i = 0; i < SlotCount; ++i)
      {
        int expected = Free;
        if (g_Pending[i].state.compare_exchange_strong(expected, Filling))
        {
          g_Pending[i].folder = folder;
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

    /** Copies the file `from` into the open `out`, every write checked; 0, or the errno of the failure. */
    int CopyInto(const std::string &from, int out)
    {
      const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
      if (in < 0)
        return errno;
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
      return error;
    }

    /** Writes the bytes of the file `from` to the device, FIFO or socket `to`; 0, or the errno of the failure. */
    int WriteBytesTo(const std::string &from, const std::string &to)
    {
      const int out = ::open(to.c_str(), O_WRONLY | O_CLOEXEC);
      if (out < 0)
        return errno;
      int error = CopyInto(from, out);
      if (::close(out) != 0 && error == 0)
        error = errno;
      return error;
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
      const std::string staging =
        TemporaryNameFor(std::string(folder && *folder ? folder : "/tmp") + "/vexa-" + NameOf(path), ExtensionOf(path));
      const int slot = Publish(staging);
      try
      {
        write(staging);
        if (::access(staging.c_str(), F_OK) != 0)
          vexaThrow() << "Cannot write \"" << path << "\": the written file is missing (" << Reason(errno) << ").";
        const int error = WriteBytesTo(staging, path);
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

    std::mutex g_GroupMoves;

    /** Refuses a folder that new files cannot be created in. */
    void CheckFolder(const std::string &path, const std::string &folder)
    {
      struct stat folderInfo;
      if (::stat(folder.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode))
        vexaThrow() << "Cannot write \"" << path << "\": the folder \"" << folder << "\" does not exist.";
      if (::access(folder.c_str(), W_OK) != 0)
        vexaThrow() << "Cannot write \"" << path << "\": the folder \"" << folder << "\" is not writable.";
    }

    /**
     * Deletes the files of a temporary folder, then the folder. Only system
     * calls (no allocation, no library state): a signal handler calls it.
     */
    void RemoveFolderOfFiles(const char *folder) noexcept
    {
      const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd >= 0)
      {
        alignas(8) char entries[4096];
        // entries deleted while the folder is read may shift the rest: read again from the start until empty
        for (int pass = 0; pass < 64; ++pass)
        {
          bool removed = false;
          ::lseek(fd, 0, SEEK_SET);
          for (;;)
          {
            const ssize_t n = ::getdents64(fd, entries, sizeof(entries));
            if (n <= 0)
              break;
            for (ssize_t at = 0; at < n;)
            {
              const auto *entry = reinterpret_cast<const struct dirent64 *>(entries + at);
              at += entry->d_reclen;
              const char *name = entry->d_name;
              if (!(name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))))
                removed = ::unlinkat(fd, name, 0) == 0 || removed;
            }
          }
          if (!removed)
            break;
        }
        ::close(fd);
      }
      ::rmdir(folder);
    }

    /**
     * One file of a group: written in the temporary folder, then moved to its
     * own name in the folder of the group's main file.
     */
    struct GroupMember
    {
      std::string name;    ///< where it goes: the main file's folder and the written file's name
      std::string written; ///< what the writer wrote, in the temporary folder
      std::string target;  ///< `name` after links
      struct stat info;    ///< what stands at `target` now, when `exists`
      bool exists = false;
      bool replaced = true; ///< a regular file or nothing, replaced by a rename; else written to
      std::string ready;    ///< the file renamed onto `target`: `written`, or a copy in the target's folder
      int readySlot = -1;
      std::string backup; ///< a second name of the old file until the whole group is in place
      int backupSlot = -1;
      bool moved = false;
    };

    /** "Cannot write "<path>" (at "<member>"): ": the start of an error about one file of a group. */
    std::string GroupError(const std::string &path, const GroupMember &member)
    {
      std::string text = "Cannot write \"" + path + "\"";
      if (member.name != path)
        text += " (at \"" + member.name + "\")";
      return text + ": ";
    }

    /** What the writer left in the temporary folder: regular files only, the main file last. */
    std::vector<GroupMember> WrittenMembers(const std::string &path, const std::string &staging)
    {
      std::vector<std::string> names;
      const int fd = ::open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd < 0)
        vexaThrow() << "Cannot write \"" << path << "\": " << Reason(errno) << ".";
      alignas(8) char entries[4096];
      for (;;)
      {
        const ssize_t n = ::getdents64(fd, entries, sizeof(entries));
        if (n < 0)
        {
          const int error = errno;
          ::close(fd);
          vexaThrow() << "Cannot write \"" << path << "\": " << Reason(error) << ".";
        }
        if (n == 0)
          break;
        for (ssize_t at = 0; at < n;)
        {
          const auto *entry = reinterpret_cast<const struct dirent64 *>(entries + at);
          at += entry->d_reclen;
          const std::string name = entry->d_name;
          if (name != "." && name != "..")
            names.push_back(name);
        }
      }
      ::close(fd);

      const std::string mainName = NameOf(path);
      std::sort(names.begin(), names.end(), [&mainName](const std::string &a, const std::string &b) {
        return (a == mainName) != (b == mainName) ? b == mainName : a < b;
      });
      if (names.empty() || names.back() != mainName)
        vexaThrow() << "Cannot write \"" << path << "\": the written file is missing.";
      std::vector<GroupMember> members(names.size());
      for (std::size_t i = 0; i < names.size(); ++i)
      {
        GroupMember &member = members[i];
        member.name = names[i] == mainName ? path : FolderOf(path) + "/" + names[i];
        member.written = staging + "/" + names[i];
        struct stat info;
        if (::lstat(member.written.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
          vexaThrow() << GroupError(path, member) << "the writer left something that is not a regular file.";
      }
      return members;
    }

    /** Flushes the file to the disk and gives it the permissions (and owner, where allowed) of what it replaces. */
    void Finish(const std::string &path, const GroupMember &member, const std::string &file)
    {
      const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0)
        vexaThrow() << GroupError(path, member) << Reason(errno) << ".";
      const bool synced = ::fsync(fd) == 0;
      const int syncError = errno;
      if (member.exists)
      {
        if (::fchown(fd, member.info.st_uid, member.info.st_gid) != 0)
        {
          // not ours to give away: the new file stays ours
        }
        ::fchmod(fd, member.info.st_mode & 07777);
      }
      ::close(fd);
      if (!synced)
        vexaThrow() << GroupError(path, member) << Reason(syncError) << ".";
    }

    /**
     * Everything that may fail before the first move: refusals, flushing, and
     * a copy in the target's own folder where a link leads out of the folder
     * of the written file (a rename stays within one file system).
     */
    void Prepare(const std::string &path, GroupMember &member)
    {
      member.target = FollowLinks(member.name, member.info, member.exists);
      if (member.exists && S_ISDIR(member.info.st_mode))
        vexaThrow() << GroupError(path, member) << "it is a folder.";
      member.replaced = !member.exists || S_ISREG(member.info.st_mode);
      if (!member.replaced)
        return;
      if (member.exists && ::access(member.target.c_str(), W_OK) != 0)
        vexaThrow() << GroupError(path, member) << "the file is write-protected.";
      if (FolderOf(member.target) == FolderOf(member.name))
      {
        member.ready = member.written;
      }
      else
      {
        CheckFolder(path, FolderOf(member.target));
        member.ready = TemporaryNameFor(member.target, ExtensionOf(member.target));
        member.readySlot = Publish(member.ready);
        const int out = ::open(member.ready.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (out < 0)
          vexaThrow() << GroupError(path, member) << Reason(errno) << ".";
        int error = CopyInto(member.written, out);
        if (::close(out) != 0 && error == 0)
          error = errno;
        if (error != 0)
          vexaThrow() << GroupError(path, member) << Reason(error) << ".";
      }
      Finish(path, member, member.ready);
    }

    void Move(const std::string &path, GroupMember &member)
    {
      if (!member.replaced)
      {
        const int error = WriteBytesTo(member.written, member.target);
        if (error != 0)
          vexaThrow() << GroupError(path, member) << Reason(error) << ".";
        member.moved = true;
        return;
      }
      if (member.exists)
      {
        // a second name keeps the old file should a later move fail; a file
        // system without hard links keeps none
        const std::string backup = TemporaryNameFor(member.target, ".old");
        const int slot = Publish(backup);
        if (::link(member.target.c_str(), backup.c_str()) == 0)
        {
          member.backup = backup;
          member.backupSlot = slot;
        }
        else
        {
          Withdraw(slot);
        }
      }
      if (::rename(member.ready.c_str(), member.target.c_str()) != 0)
        vexaThrow() << GroupError(path, member) << Reason(errno) << ".";
      member.moved = true;
    }

    /** Puts back what the moves before a failure replaced, last move first. */
    void RollBack(std::vector<GroupMember> &members) noexcept
    {
      for (auto it = members.rbegin(); it != members.rend(); ++it)
      {
        if (!it->moved || !it->replaced)
          continue;
        if (!it->backup.empty())
          ::rename(it->backup.c_str(), it->target.c_str());
        else if (!it->exists)
          ::unlink(it->target.c_str());
      }
    }

    /** Deletes the copies and second names a group write made outside its temporary folder. */
    void Discard(std::vector<GroupMember> &members) noexcept
    {
      for (GroupMember &member : members)
      {
        if (!member.ready.empty() && member.ready != member.written)
          ::unlink(member.ready.c_str()); // gone already once it was renamed
        Withdraw(member.readySlot);
        if (!member.backup.empty())
          ::unlink(member.backup.c_str());
        Withdraw(member.backupSlot);
      }
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
    CheckFolder(path, folder);

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

  void ReplaceFileGroupSafely(const std::string &path, const std::function<void(const std::string &)> &write)
  {
    if (path.empty())
      vexaThrow() << "Cannot write a file: no file name given.";

    // what ReplaceFileSafely refuses is refused before anything is written
    struct stat info;
    bool exists = false;
    const std::string target = FollowLinks(path, info, exists);
    if (exists && S_ISDIR(info.st_mode))
      vexaThrow() << "Cannot write \"" << path << "\": it is a folder.";
    if (exists && S_ISREG(info.st_mode) && ::access(target.c_str(), W_OK) != 0)
      vexaThrow() << "Cannot write \"" << path << "\": the file is write-protected.";
    const std::string folder = FolderOf(path);
    CheckFolder(path, folder);
    if ((!exists || S_ISREG(info.st_mode)) && FolderOf(target) != folder)
      CheckFolder(path, FolderOf(target));

    // a folder of its own beside the main file: the writer's files keep their
    // names there, so what refers to them by a relative name stays right
    const std::string staging = TemporaryNameFor(path, std::string());
    const int slot = Publish(staging, true);
    if (::mkdir(staging.c_str(), 0700) != 0)
    {
      const int error = errno;
      Withdraw(slot);
      vexaThrow() << "Cannot write \"" << path << "\": " << Reason(error) << ".";
    }
    std::vector<GroupMember> members;
    try
    {
      write(staging + "/" + NameOf(path));
      members = WrittenMembers(path, staging);
      // one group at a time is moved in this process: concurrent writes of the same group leave one whole group
      std::unique_lock<std::mutex> moving(g_GroupMoves);
      try
      {
        for (GroupMember &member : members)
          Prepare(path, member);
        for (GroupMember &member : members)
          Move(path, member);
      }
      catch (...)
      {
        RollBack(members);
        throw;
      }
    }
    catch (...)
    {
      Discard(members);
      RemoveFolderOfFiles(staging.c_str());
      Withdraw(slot);
      throw;
    }
    Discard(members);
    RemoveFolderOfFiles(staging.c_str());
    Withdraw(slot);
    std::vector<std::string> folders;
    for (const GroupMember &member : members)
      if (std::find(folders.begin(), folders.end(), FolderOf(member.target)) == folders.end())
        folders.push_back(FolderOf(member.target));
    for (const std::string &changed : folders)
      SyncFolder(changed);
  }

  void RemovePendingTemporaryFiles() noexcept
  {
    for (PendingSlot &slot : g_Pending)
    {
      if (slot.state.load() != Ready)
        continue;
      if (slot.folder)
        RemoveFolderOfFiles(slot.path);
      else
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
