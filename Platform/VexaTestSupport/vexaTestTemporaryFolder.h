#ifndef vexaTestTemporaryFolder_h
#define vexaTestTemporaryFolder_h

#include <cstdlib>
#include <filesystem>
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
  }
}

#endif
