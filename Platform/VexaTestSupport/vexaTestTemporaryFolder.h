#ifndef vexaTestTemporaryFolder_h
#define vexaTestTemporaryFolder_h

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>

namespace vexa
{
  namespace test
  {
    /** A fresh folder of its own for one test, removed with everything in it afterwards. */
    class TemporaryFolder
    {
    public:
      TemporaryFolder()
      {
        std::string pattern = (std::filesystem::temp_directory_path() / "vexa-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
          throw std::runtime_error("cannot create a temporary folder");
        m_Path = pattern;
      }
      ~TemporaryFolder()
      {
        std::error_code ignored;
        std::filesystem::remove_all(m_Path, ignored);
      }
      TemporaryFolder(const TemporaryFolder &) = delete;
      TemporaryFolder &operator=(const TemporaryFolder &) = delete;

      const std::filesystem::path &Path() const { return m_Path; }
      std::string File(const std::string &name) const { return (m_Path / name).string(); }

    private:
      std::filesystem::path m_Path;
    };

    /** The whole file as bytes; empty when it cannot be read. */
    inline std::string ReadFile(const std::string &path)
    {
      std::ifstream in(path, std::ios::binary);
      return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    /** Writes exactly these bytes (a test's hand-made file). */
    inline void WriteBytes(const std::string &path, const std::string &bytes)
    {
      std::ofstream(path, std::ios::binary) << bytes;
    }

    /**
     * Keeps the files this process writes below `bytes` while it lives, as a
     * full disk would: a write beyond fails with EFBIG (SIGXFSZ is ignored
     * meanwhile). Root ignores permissions, not this limit. The limit holds
     * for every file of the process, a redirected output of the test
     * included: report after it is gone.
     */
    class FileSizeLimit
    {
    public:
      explicit FileSizeLimit(rlim_t bytes)
      {
        m_OldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_Old);
        rlimit limit = m_Old;
        limit.rlim_cur = bytes;
        m_Set = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
      }
      ~FileSizeLimit()
      {
        ::setrlimit(RLIMIT_FSIZE, &m_Old);
        std::signal(SIGXFSZ, m_OldHandler);
      }
      FileSizeLimit(const FileSizeLimit &) = delete;
      FileSizeLimit &operator=(const FileSizeLimit &) = delete;

      bool IsSet() const { return m_Set; }

    private:
      rlimit m_Old{};
      void (*m_OldHandler)(int) = nullptr;
      bool m_Set = false;
    };

    /** What stands at path, the link itself rather than its target (S_IFREG, S_IFLNK, ...); 0 when nothing. */
    inline mode_t FileTypeAt(const std::string &path)
    {
      struct stat info;
      return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
    }
  }
}

#endif
