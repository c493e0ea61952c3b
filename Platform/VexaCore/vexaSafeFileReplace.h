#ifndef vexaSafeFileReplace_h
#define vexaSafeFileReplace_h

#include "VexaCoreExports.h"

#include <functional>
#include <string>

namespace vexa
{
  /**
   * Writes a file at `path` so that a failed or interrupted write never leaves
   * a half-written file there and never destroys what was there before.
   *
   * `write` is called once with the name of a new regular file to write to;
   * it writes the whole file there (opening and closing it itself) and throws
   * on failure. A writer that may miss a failed write of its own can read the
   * file back before it returns. Where that file is depends on what `path` is:
   * - nothing, or a regular file: a hidden temporary beside it, in the same
   *   folder and with the same extension (writers that pick the format by the
   *   extension pick the same one). Once `write` returns, the temporary is
   *   flushed to the disk (fsync), takes the permissions (and, where the
   *   process may set it, the owner) of the file it replaces and is renamed
   *   over `path` in one step; readers see the old file
   *   or the new one, never a mixture.
   * - a symbolic link: the file the link points to (after all links in a row)
   *   is written as above; the link stays a link. A link to nothing creates
   *   the file it names.
   * - a device node, FIFO or socket: written to, never replaced (renaming
   *   over /dev/null would turn it into a regular file). The writer writes a
   *   temporary in the system's temporary folder ($TMPDIR, else /tmp), whose
   *   bytes then go to `path` with every write checked: not every writer
   *   notices a failed write (a compressing one reports success on a full
   *   device).
   * - a folder, or a regular file the process may not write to: refused
   *   (renaming over a write-protected file would replace it all the same).
   *
   * Throws vexa::Exception naming `path` when the file cannot be written; an
   * exception of `write` is passed on unchanged after the temporary is
   * removed. Thread-safe: concurrent writes get distinct temporaries.
   * Temporaries in flight are known to RemovePendingTemporaryFiles(), so a
   * program ended by a signal leaves none behind (see
   * RemoveTemporaryFilesOnTermination()).
   */
  VEXACORE_EXPORT void ReplaceFileSafely(const std::string &path,
                                         const std::function<void(const std::string &)> &write);

  /**
   * Writes a file at `path` together with the files that it refers to by
   * name beside it (a ".nhdr" header and its detached data file), so that a
   * failed or interrupted write leaves every one of them as it was.
   *
   * `write` is called once with a name in a new hidden folder of the folder
   * of `path`, with the same file name as `path`; it writes that file there
   * and its companions beside it in the same folder (a writer that names the
   * companions after the file, and refers to them by a relative name, names
   * them right), and throws on failure. Only regular files may be left there.
   * Then each written file is flushed to the disk and moved to its own name
   * in the folder of `path`: the companions first, `path` last, so a reader
   * that finds the new file finds what it refers to. Each move replaces its
   * file in one step as ReplaceFileSafely does, keeping permissions and
   * owner, writing through a link to the file it points to, writing to a
   * device or FIFO rather than replacing it. Should a later move fail, the
   * files moved before it get their old contents back, kept under a second
   * name (a hard link) until the group is in place (a file that was not
   * there before is removed again; a file system without hard links keeps
   * nothing to put back); the temporaries are removed in every case.
   *
   * Refuses, before `write` is called, what ReplaceFileSafely refuses for
   * `path`; a companion whose name is a folder or a write-protected file is
   * refused before anything is moved. Throws vexa::Exception naming `path`
   * (and the companion, where it is one) with the reason; an exception of
   * `write` is passed on unchanged after the temporaries are removed.
   * Thread-safe: the groups written at once in one process are moved into
   * place one after the other, so the last leaves a whole group (other
   * processes writing the same group are not kept out). A program ended by
   * a signal leaves no temporary folder behind
   * (RemovePendingTemporaryFiles()); ended between two moves of a group, it
   * leaves the files moved so far.
   */
  VEXACORE_EXPORT void ReplaceFileGroupSafely(const std::string &path,
                                              const std::function<void(const std::string &)> &write);

  /**
   * Deletes the temporaries (files, and the temporary folders of
   * ReplaceFileGroupSafely with what they hold) of the writes now in progress
   * in this process. Async-signal-safe: meant for a handler of a terminating
   * signal.
   */
  VEXACORE_EXPORT void RemovePendingTemporaryFiles() noexcept;

  /**
   * Installs handlers for SIGTERM, SIGINT and SIGHUP that delete the
   * temporaries of writes in progress and then end the program by the same
   * signal, as it would have ended without the handler. A signal that the
   * process ignores (started with nohup, or in the background) stays ignored.
   * Call once at the start of a program's main.
   */
  VEXACORE_EXPORT void RemoveTemporaryFilesOnTermination();
}

#endif
