#include "vexaMcxyzCommandLine.h"

#include <cmath>
#include <limits>
#include <locale>
#include <set>
#include <sstream>

namespace vexa
{
  namespace mcxyz
  {
    namespace
    {
      // More photons than this would run for weeks; it is a typing error.
      constexpr std::uint64_t MaximumPhotons = 1000000000000ull;
      constexpr unsigned int MaximumThreads = 1024;

      std::uint64_t ParseCount(const std::string &option,
                               const std::string &text,
                               std::uint64_t maximum,
                               bool allowZero)
      {
        bool digits = !text.empty();
        for (char c : text)
          digits = digits && c >= '0' && c <= '9';
        std::uint64_t value = 0;
        bool overflow = false;
        if (digits)
          for (char c : text)
          {
            const std::uint64_t d = static_cast<std::uint64_t>(c - '0');
            if (value > (std::numeric_limits<std::uint64_t>::max() - d) / 10)
              overflow = true;
            else
              value = value * 10 + d;
          }
        if (!digits || overflow || value > maximum || (!allowZero && value == 0))
          throw UsageError(option + " needs a whole number" + (allowZero ? "" : " above 0") + " up to " +
                           std::to_string(maximum) + ", got \"" + text + "\"");
        return value;
      }

      double ParseDouble(const std::string &option, const std::string &text)
      {
        std::istringstream in(text);
        in.imbue(std::locale::classic());
        double value = 0;
        in >> value;
        if (text.empty() || in.fail() || !in.eof() || !std::isfinite(value))
          throw UsageError(option + " needs a number, got \"" + text + "\"");
        return value;
      }
    }

    std::string UsageText()
    {
      return "Usage: VexaMcxyz -i <volume.nrrd> -o <fluence.nrrd> [-yo <offset cm>] [-p <probe.xml>]\n"
             "                 [-n <photons>] [-seed <number>] [-threads <count>]\n"
             "  -i        optical properties (mu_a, mu_s in 1/cm, g) as NRRD\n"
             "  -o        fluence output file (NRRD, 1/cm^2 per launched unit energy)\n"
             "  -yo       lateral offset of the probe along y in cm (default 0)\n"
             "  -p        probe file (XML); empty or absent: one pencil beam at the centre\n"
             "  -n        photon packets to launch (default 1000000)\n"
             "  -seed     seed of the random streams (default: drawn from the system)\n"
             "  -threads  worker threads (default: one per hardware thread)\n";
    }

    CommandLineOptions ParseCommandLine(const std::vector<std::string> &arguments)
    {
      CommandLineOptions options;
      std::set<std::string> seen;
      for (std::size_t i = 0; i < arguments.size(); ++i)
      {
        const std::string &option = arguments[i];
        if (option == "-h" || option == "--help")
        {
          options.help = true;
          return options;
        }
        static const std::set<std::string> known = {"-i", "-o", "-yo", "-p", "-n", "-seed", "-threads"};
        if (!known.count(option))
          throw UsageError("unknown option \"" + option + "\"");
        if (!seen.insert(option).second)
          throw UsageError(option + " is given twice");
        if (i + 1 >= arguments.size())
          throw UsageError(option + " needs a value");
        const std::string &value = arguments[++i];
        if (option == "-i")
          options.inputPath = value;
        else if (option == "-o")
          options.outputPath = value;
        else if (option == "-p")
          options.probePath = value;
        else if (option == "-yo")
          options.lateralOffsetCm = ParseDouble(option, value);
        else if (option == "-n")
          options.photons = ParseCount(option, value, MaximumPhotons, false);
        else if (option == "-seed")
          options.seed = ParseCount(option, value, std::numeric_limits<std::uint64_t>::max(), true);
        else if (option == "-threads")
          options.threads = static_cast<unsigned int>(ParseCount(option, value, MaximumThreads, false));
      }
      if (options.inputPath.empty())
        throw UsageError("no input volume given (-i)");
      if (options.outputPath.empty())
        throw UsageError("no output file given (-o)");
      return options;
    }
  }
}
