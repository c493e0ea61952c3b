#ifndef vexaTestThisProcess_h
#define vexaTestThisProcess_h

// What the test program itself holds, read from /proc: a test that starts
// and ends threads or sockets compares these before and after.

#include <dirent.h>

namespace vexa
{
  namespace test
  {
    /** Entries of a /proc folder of this process (0 when it cannot be read). */
    inline int CountProcEntries(const char *folder)
    {
      int count = 0;
      if (DIR *dir = ::opendir(folder))
      {
        while (const dirent *entry = ::readdir(dir))
          if (entry->d_name[0] != '.')
            ++count;
        ::closedir(dir);
      }
      return count;
    }

    /** Threads of this process. */
    inline int CountThreads() { return CountProcEntries("/proc/self/task"); }

    /** Open descriptors of this process. */
    inline int CountOpenDescriptors() { return CountProcEntries("/proc/self/fd") - 1; } // the listing's own
  }
}

#endif
