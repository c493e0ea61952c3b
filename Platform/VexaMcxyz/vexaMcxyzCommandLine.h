#ifndef vexaMcxyzCommandLine_h
#define vexaMcxyzCommandLine_h

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vexa
{
  namespace mcxyz
  {
    /** What the simulator's command line asks for. */
    struct CommandLineOptions
    {
      std::string inputPath;
      std::string outputPath;
      std::string probePath; ///< empty: the default pencil beam
      double lateralOffsetCm = 0;
      std::uint64_t photons = 1000000;
      std::optional<std::uint64_t> seed; ///< none: drawn from the system's random device
      unsigned int threads = 0;          ///< 0: one per hardware thread
      bool help = false;
    };

    /** A command line the simulator cannot run; the text says why. */
    class UsageError : public std::runtime_error
    {
    public:
      using std::runtime_error::runtime_error;
    };

    /** Parses the arguments after the program name; throws UsageError. */
    CommandLineOptions ParseCommandLine(const std::vector<std::string> &arguments);

    /** The usage text printed for -h and after a usage error. */
    std::string UsageText();
  }
}

#endif
