#ifndef vexaTestThisProcess_h
#define vexaTestThisProcess_h

// What the test program itself holds, read from /proc: a test that starts
// and ends threads or sockets, or that bounds the memory a step takes,
// compares these before and after.

#include <dirent.h>

#include <fstream>
#include <string>

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

    /** A memory figure of this process's status ("VmRSS", "VmHWM", ...), in KiB; 0 when it cannot be read. */
    inline long StatusKiB(const std::string &field)
    {
      std::ifstream status("/proc/self/status");
      std::string line;
      while (std::getline(status, line))
        if (line.compare(0, field.size() + 1, field + ":") == 0)
          return std::stol(line.substr(field.size() + 1));
      return 0;
    }

    /** Resident memory of this process now, in KiB. */
    inline long ResidentKiB() { return StatusKiB("VmRSS"); }

    /** The peak of resident memory since the process began or since the last ResetPeakResident(), in KiB. */
    inline long PeakResidentKiB() { return StatusKiB("VmHWM"); }

    /** Starts the peak anew from the present resident memory; false where the system does not offer that. */
    inline bool ResetPeakResident()
    {
      std::ofstream refs("/proc/self/clear_refs");
      refs << "5";
      refs.flush();
      return refs.good();
    }
  }
}

#endif
