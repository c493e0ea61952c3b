// IOUtil's check of an NRRD file before ITK reads it. ITK's reader allocates
// what the header claims before it reads a byte of data, turns a NaN spacing
// into 1 without a word, takes a gzip data part whose checksum or length is
// wrong, and leaks inside its gzip code on a truncated part. So the header is
// read here first, and the data the header promises is looked for: a raw part
// must be as long as the claim; a gzip part is inflated through one buffer,
// checksum and length included, and must hold exactly the claim.

#include "vexaIOUtil.h"

#include "vexaException.h"

#include <vexaLog.h>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace vexa
{
  namespace
  {
    std::atomic<std::uint64_t> g_MaximumDataSize{IOUtil::DefaultMaximumDataSize};

    // A header is text of a few hundred bytes; far more is not a header.
    constexpr std::size_t MaximumHeaderSize = 1 << 20;
    constexpr std::size_t BufferSize = 1 << 16;

    [[noreturn]] void Refuse(const std::string &path, const std::string &why)
    {
      vexaThrow() << "Cannot load \"" << path << "\": " << why;
    }

    /**
     * Refuses the file with a note for developers (which setting of the code
     * governs the limit). The refusal's text is shown to users, who cannot act
     * on a function name, so the note goes into a log record of the refusal
     * only.
     */
    [[noreturn]] void Refuse(const std::string &path, const std::string &why, const std::string &developerNote)
    {
      VEXA_WARN << "Cannot load \"" << path << "\": " << why << " " << developerNote;
      Refuse(path, why);
    }

    std::string Lower(std::string text)
    {
      std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
      return text;
    }

    std::string Trimmed(const std::string &text)
    {
      const auto first = text.find_first_not_of(" \t\r");
      if (first == std::string::npos)
        return std::string();
      const auto last = text.find_last_not_of(" \t\r");
      return text.substr(first, last - first + 1);
    }

    std::vector<std::string> Words(const std::string &text)
    {
      std::vector<std::string> words;
      std::istringstream in(text);
      std::string word;
      while (in >> word)
        words.push_back(word);
      return words;
    }

    /** A number as the NRRD format writes it ("nan" and "inf" included), whatever the locale. */
    bool ParseNumber(const std::string &text, double &value)
    {
      const char *first = text.c_str();
      const char *last = first + text.size();
      if (first != last && *first == '+')
        ++first;
      const auto result = std::from_chars(first, last, value);
      if (result.ptr != last || first == last)
        return false;
      if (result.ec == std::errc::result_out_of_range)
      {
        // beyond the double range: infinite, or as good as zero, for what this check asks
        const bool negative = *first == '-';
        const bool tiny = text.find_first_of("eE") != std::string::npos &&
                          text.find('-', text.find_first_of("eE")) != std::string::npos;
        value = tiny ? 0.0 : (negative ? -HUGE_VAL : HUGE_VAL);
      }
      return true;
    }

    /** Bytes per value of an NRRD type name; 0 for a name the reader does not support. */
    std::size_t TypeSize(const std::string &type)
    {
      static const std::map<std::string, std::size_t> sizes = {{"signed char", 1},
                                                               {"int8", 1},
                                                               {"int8_t", 1},
                                                               {"uchar", 1},
                                                               {"unsigned char", 1},
                                                               {"uint8", 1},
                                                               {"uint8_t", 1},
                                                               {"short", 2},
                                                               {"short int", 2},
                                                               {"signed short", 2},
                                                               {"signed short int", 2},
                                                               {"int16", 2},
                                                               {"int16_t", 2},
                                                               {"ushort", 2},
                                                               {"unsigned short", 2},
                                                               {"unsigned short int", 2},
                                                               {"uint16", 2},
                                                               {"uint16_t", 2},
                                                               {"int", 4},
                                                               {"signed int", 4},
                                                               {"int32", 4},
                                                               {"int32_t", 4},
                                                               {"uint", 4},
                                                               {"unsigned int", 4},
                                                               {"uint32", 4},
                                                               {"uint32_t", 4},
                                                               {"longlong", 8},
                                                               {"long long", 8},
                                                               {"long long int", 8},
                                                               {"signed long long", 8},
                                                               {"signed long long int", 8},
                                                               {"int64", 8},
                                                               {"int64_t", 8},
                                                               {"ulonglong", 8},
                                                               {"unsigned long long", 8},
                                                               {"unsigned long long int", 8},
                                                               {"uint64", 8},
                                                               {"uint64_t", 8},
                                                               {"float", 4},
                                                               {"double", 8}};
      const auto it = sizes.find(Lower(type));
      return it == sizes.end() ? 0 : it->second;
    }

    /** Axis kinds that describe the values of one pixel, not a place in the image. */
    bool IsComponentKind(const std::string &kind)
    {
      const std::string k = Lower(kind);
      return !(k == "domain" || k == "space" || k == "time" || k == "???" || k == "none");
    }

    struct Header
    {
      std::map<std::string, std::string> fields; ///< field name in lower case -> value
      std::uint64_t dataOffset = 0;              ///< where attached data begins
      bool ended = false;                        ///< a blank line ended the header
    };

    Header ReadHeader(const std::string &path)
    {
      std::ifstream in(path, std::ios::binary);
      if (!in)
        Refuse(path, "the file cannot be opened.");
      Header header;
      std::string line;
      bool first = true;
      std::uint64_t offset = 0;
      while (true)
      {
        line.clear();
        char c = 0;
        bool newline = false;
        while (in.get(c))
        {
          ++offset;
          if (c == '\n')
          {
            newline = true;
            break;
          }
          line += c;
          if (offset > MaximumHeaderSize)
            Refuse(path, "its header is longer than " + std::to_string(MaximumHeaderSize) +
                           " bytes; it is not an NRRD header.");
        }
        if (!newline && line.empty())
          break; // end of a detached header
        if (!line.empty() && line.back() == '\r')
          line.pop_back();
        if (first)
        {
          if (line.compare(0, 4, "NRRD") != 0)
            Refuse(path, "the file is not an NRRD image.");
          first = false;
          continue;
        }
        if (line.empty())
        {
          header.ended = true;
          break;
        }
        if (line[0] == '#' || line.find(":=") != std::string::npos)
          continue; // comment or key/value pair
        const std::string::size_type colon = line.find(": ");
        if (colon == std::string::npos)
          Refuse(path, "its header line \"" + line.substr(0, 80) + "\" is not a field.");
        header.fields[Lower(line.substr(0, colon))] = Trimmed(line.substr(colon + 2));
        if (!newline)
          break;
      }
      if (first)
        Refuse(path, "the file is empty.");
      header.dataOffset = offset;
      return header;
    }

    const std::string *Field(const Header &header, std::initializer_list<const char *> names)
    {
      for (const char *name : names)
      {
        const auto it = header.fields.find(name);
        if (it != header.fields.end())
          return &it->second;
      }
      return nullptr;
    }

    std::int64_t IntegerField(const std::string &path,
                              const Header &header,
                              std::initializer_list<const char *> names,
                              std::int64_t absent)
    {
      const std::string *text = Field(header, names);
      if (!text)
        return absent;
      char *end = nullptr;
      errno = 0;
      const long long value = std::strtoll(text->c_str(), &end, 10);
      if (end == text->c_str() || *end != '\0' || errno == ERANGE)
        Refuse(path, "its field \"" + std::string(*names.begin()) + "\" is not a whole number: \"" + *text + "\".");
      return value;
    }

    /** One axis's space direction: its components (none for "none") and its text as the file writes it. */
    struct SpaceDirection
    {
      std::vector<double> vector;
      std::string text;
    };

    std::vector<SpaceDirection> SpaceDirections(const std::string &path, const std::string &text)
    {
      std::vector<SpaceDirection> directions;
      std::string::size_type at = 0;
      while (true)
      {
        at = text.find_first_not_of(" \t", at);
        if (at == std::string::npos)
          break;
        if (text.compare(at, 4, "none") == 0)
        {
          directions.push_back({{}, "none"});
          at += 4;
          continue;
        }
        if (text[at] != '(')
          Refuse(path, "its space directions \"" + text + "\" cannot be read.");
        const std::string::size_type close = text.find(')', at);
        if (close == std::string::npos)
          Refuse(path, "its space directions \"" + text + "\" cannot be read.");
        std::vector<double> vector;
        std::string item;
        std::istringstream values(text.substr(at + 1, close - at - 1));
        while (std::getline(values, item, ','))
        {
          double v = 0;
          if (!ParseNumber(Trimmed(item), v))
            Refuse(path, "its space directions \"" + text + "\" cannot be read.");
          vector.push_back(v);
        }
        directions.push_back({vector, text.substr(at, close - at + 1)});
        at = close + 1;
      }
      return directions;
    }

    std::string AxisSpacingText(double v)
    {
      std::ostringstream s;
      s.imbue(std::locale::classic());
      s << v;
      return s.str();
    }

    /** Place axes: their spacing and direction must be finite and not zero. */
    void CheckSpacing(const std::string &path, const Header &header, std::size_t dimension)
    {
      std::vector<bool> component(dimension, false);
      if (const std::string *kinds = Field(header, {"kinds"}))
      {
        const std::vector<std::string> words = Words(*kinds);
        for (std::size_t i = 0; i < dimension && i < words.size(); ++i)
          component[i] = IsComponentKind(words[i]);
      }
      if (const std::string *spacings = Field(header, {"spacings"}))
      {
        const std::vector<std::string> words = Words(*spacings);
        if (words.size() != dimension)
          Refuse(path, "its header gives " + std::to_string(words.size()) + " spacings for " +
                         std::to_string(dimension) + " axes.");
        for (std::size_t i = 0; i < dimension; ++i)
        {
          double v = 0;
          if (!ParseNumber(words[i], v))
            Refuse(path, "its spacing \"" + words[i] + "\" of axis " + std::to_string(i) + " is not a number.");
          if (!component[i] && (!std::isfinite(v) || v == 0.0))
            Refuse(path, "the spacing of axis " + std::to_string(i) + " is " + AxisSpacingText(v) +
                           "; a spacing must be a finite number other than zero.");
        }
      }
      if (const std::string *text = Field(header, {"space directions"}))
      {
        const auto directions = SpaceDirections(path, *text);
        if (directions.size() != dimension)
          Refuse(path, "its header gives " + std::to_string(directions.size()) + " space directions for " +
                         std::to_string(dimension) + " axes.");
        for (std::size_t i = 0; i < dimension; ++i)
        {
          if (component[i] || directions[i].vector.empty())
            continue;
          double length = 0;
          bool finite = true;
          for (double v : directions[i].vector)
          {
            finite = finite && std::isfinite(v);
            length += v * v;
          }
          if (!finite || length == 0.0)
            Refuse(path, "the space direction of axis " + std::to_string(i) + " is \"" + directions[i].text +
                           "\"; its length, the spacing, must be a finite number other than zero.");
        }
      }
    }

    /** The data file that a detached header names, relative to the header's folder. */
    std::string DataFileOf(const std::string &path, const std::string &name)
    {
      const std::vector<std::string> words = Words(name);
      if (name == "LIST" || words.size() > 1)
        Refuse(path, "pixel data spread over several files is not supported.");
      if (!name.empty() && name[0] == '/')
        return name;
      const std::string::size_type slash = path.find_last_of('/');
      return slash == std::string::npos ? name : path.substr(0, slash + 1) + name;
    }

    std::uint64_t SizeOfFile(const std::string &path, const std::string &dataPath)
    {
      struct stat info;
      if (::stat(dataPath.c_str(), &info) != 0)
        Refuse(path, "its data file \"" + dataPath + "\" does not exist.");
      if (!S_ISREG(info.st_mode))
        Refuse(path, "its data file \"" + dataPath + "\" is not a regular file.");
      return static_cast<std::uint64_t>(info.st_size);
    }

    /** Where the data begins after skipping `lines` lines from `offset`. */
    std::uint64_t SkipLines(const std::string &path,
                            const std::string &dataPath,
                            std::uint64_t offset,
                            std::int64_t lines)
    {
      if (lines <= 0)
        return offset;
      std::ifstream in(dataPath, std::ios::binary);
      in.seekg(static_cast<std::streamoff>(offset));
      char c = 0;
      while (lines > 0 && in.get(c))
      {
        ++offset;
        if (c == '\n')
          --lines;
      }
      if (lines > 0)
        Refuse(path, "its data ends within the lines that the header says to skip.");
      return offset;
    }

    std::string Bytes(std::uint64_t n) { return std::to_string(n) + " bytes"; }

    /**
     * Inflates the gzip data from `offset` through one buffer; zlib checks each
     * member's CRC-32 and length. Answers the decompressed length; stops and
     * refuses as soon as more than `limit` bytes come out.
     */
    std::uint64_t InflatedLength(const std::string &path,
                                 const std::string &dataPath,
                                 std::uint64_t offset,
                                 std::uint64_t limit)
    {
      std::ifstream in(dataPath, std::ios::binary);
      in.seekg(static_cast<std::streamoff>(offset));
      if (!in)
        Refuse(path, "its compressed data cannot be read.");
      z_stream z;
      std::memset(&z, 0, sizeof(z));
      if (inflateInit2(&z, 15 + 16) != Z_OK) // gzip wrapping only
        Refuse(path, "its compressed data cannot be decoded here (zlib failed to start).");
      std::unique_ptr<z_stream, int (*)(z_stream *)> guard(&z, &inflateEnd);
      std::vector<unsigned char> input(BufferSize), output(BufferSize);
      std::uint64_t total = 0;
      bool memberEnded = false;
      bool membersSeen = false;
      while (true)
      {
        if (z.avail_in == 0)
        {
          in.read(reinterpret_cast<char *>(input.data()), static_cast<std::streamsize>(input.size()));
          z.next_in = input.data();
          z.avail_in = static_cast<uInt>(in.gcount());
          if (z.avail_in == 0)
            break;
        }
        if (memberEnded)
        {
          // another gzip member may follow; anything else is not what a writer leaves there
          if (z.avail_in < 2 && !in.eof())
          {
            // too little to tell: keep the byte and read more behind it
            std::memmove(input.data(), z.next_in, z.avail_in);
            in.read(reinterpret_cast<char *>(input.data() + z.avail_in),
                    static_cast<std::streamsize>(input.size() - z.avail_in));
            z.next_in = input.data();
            z.avail_in += static_cast<uInt>(in.gcount());
          }
          if (z.avail_in < 2 || z.next_in[0] != 0x1f || z.next_in[1] != 0x8b)
            Refuse(path, "its compressed data is followed by bytes that are not compressed data.");
          inflateReset(&z);
          memberEnded = false;
        }
        z.next_out = output.data();
        z.avail_out = static_cast<uInt>(output.size());
        const int result = inflate(&z, Z_NO_FLUSH);
        total += output.size() - z.avail_out;
        if (total > limit)
          Refuse(path, "its compressed data holds more than the " + Bytes(limit) + " that its header describes.");
        if (result == Z_STREAM_END)
        {
          memberEnded = true;
          membersSeen = true;
          continue;
        }
        if (result == Z_DATA_ERROR)
        {
          const std::string why = z.msg ? z.msg : "";
          if (why.find("incorrect data check") != std::string::npos)
            Refuse(path, "its compressed data is damaged: the CRC does not match.");
          if (why.find("incorrect length check") != std::string::npos)
            Refuse(path, "its compressed data is damaged: the length does not match.");
          Refuse(path, "its compressed data is damaged (" + why + ").");
        }
        if (result == Z_MEM_ERROR)
          Refuse(path, "not enough memory to decode its compressed data.");
        if (result != Z_OK && result != Z_BUF_ERROR)
          Refuse(path, "its compressed data cannot be decoded.");
      }
      if (!memberEnded)
        Refuse(path, membersSeen || total > 0 ? "its compressed data is cut short."
                                              : "its compressed data is missing or cut short.");
      return total;
    }
  }

  void IOUtil::SetMaximumDataSize(std::uint64_t bytes) { g_MaximumDataSize.store(bytes); }

  std::uint64_t IOUtil::GetMaximumDataSize() { return g_MaximumDataSize.load(); }

  void IOUtil::CheckNrrdFile(const std::string &path)
  {
    // a FIFO or device would block the read or never end; its length cannot be checked either
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
      Refuse(path, "the file does not exist.");
    if (!S_ISREG(info.st_mode))
      Refuse(path, "it is not a regular file.");
    const Header header = ReadHeader(path);

    const std::int64_t dimension = IntegerField(path, header, {"dimension"}, -1);
    if (dimension < 1 || dimension > 16)
      Refuse(path, dimension < 0 ? std::string("its header has no dimension.")
                                 : "its dimension " + std::to_string(dimension) + " is not between 1 and 16.");
    const std::string *typeName = Field(header, {"type"});
    if (!typeName)
      Refuse(path, "its header names no pixel type.");
    const std::size_t typeSize = TypeSize(*typeName);
    if (typeSize == 0)
      Refuse(path, "the pixel type \"" + *typeName + "\" is not supported.");
    const std::string *sizesText = Field(header, {"sizes"});
    if (!sizesText)
      Refuse(path, "its header gives no sizes.");
    const std::vector<std::string> sizes = Words(*sizesText);
    if (sizes.size() != static_cast<std::size_t>(dimension))
      Refuse(path,
             "its header gives " + std::to_string(sizes.size()) + " sizes for " + std::to_string(dimension) + " axes.");
    std::uint64_t values = 1;
    bool overflow = false;
    for (const std::string &s : sizes)
    {
      char *end = nullptr;
      errno = 0;
      const unsigned long long n = std::strtoull(s.c_str(), &end, 10);
      if (s[0] == '-' || end == s.c_str() || *end != '\0' || n == 0 || errno == ERANGE)
        Refuse(path, "its size \"" + s + "\" is not a count of one or more.");
      overflow = overflow || __builtin_mul_overflow(values, n, &values);
    }
    std::uint64_t bytes = 0;
    overflow = overflow || __builtin_mul_overflow(values, static_cast<std::uint64_t>(typeSize), &bytes);
    const std::uint64_t maximum = GetMaximumDataSize();
    if (overflow || bytes > maximum)
      Refuse(path,
             "its header claims " + (overflow ? std::string("more than 2^64 bytes") : Bytes(bytes)) +
               " of pixel data, more than the largest allowed, " + Bytes(maximum) + ".",
             "The largest allowed is set by vexa::IOUtil::SetMaximumDataSize.");

    CheckSpacing(path, header, static_cast<std::size_t>(dimension));

    // where the data is
    std::string dataPath = path;
    std::uint64_t offset = header.dataOffset;
    if (const std::string *name = Field(header, {"data file", "datafile"}))
    {
      dataPath = DataFileOf(path, *name);
      offset = 0;
    }
    else if (!header.ended)
    {
      Refuse(path, "its header ends without a blank line and names no data file: the pixel data is missing.");
    }
    const std::uint64_t fileSize = SizeOfFile(path, dataPath);
    offset = SkipLines(path, dataPath, offset, IntegerField(path, header, {"line skip", "lineskip"}, 0));
    const std::int64_t byteSkip = IntegerField(path, header, {"byte skip", "byteskip"}, 0);
    if (byteSkip < -1)
      Refuse(path, "its byte skip " + std::to_string(byteSkip) + " is not valid.");
    const std::uint64_t available = fileSize > offset ? fileSize - offset : 0;

    const std::string *encodingText = Field(header, {"encoding"});
    if (!encodingText)
      Refuse(path, "its header names no encoding.");
    const std::string encoding = Lower(*encodingText);
    if (encoding == "raw")
    {
      const std::uint64_t needed = byteSkip < 0 ? bytes : bytes + static_cast<std::uint64_t>(byteSkip);
      if ((byteSkip < 0 ? fileSize : available) < needed)
        Refuse(path, "its header claims " + Bytes(bytes) + " of pixel data, the file holds " +
                       Bytes(byteSkip < 0 ? fileSize
                                          : (available > static_cast<std::uint64_t>(byteSkip)
                                               ? available - static_cast<std::uint64_t>(byteSkip)
                                               : 0)) +
                       ".");
    }
    else if (encoding == "gz" || encoding == "gzip")
    {
      if (byteSkip < 0)
        Refuse(path, "a byte skip of -1 is not possible with compressed data.");
      const std::uint64_t expected = bytes + static_cast<std::uint64_t>(byteSkip);
      const std::uint64_t inflated = InflatedLength(path, dataPath, offset, expected);
      if (inflated != expected)
        Refuse(path, "its compressed data holds " + Bytes(inflated) + ", its header claims " + Bytes(expected) + ".");
    }
    else if (encoding == "txt" || encoding == "text" || encoding == "ascii")
    {
      // at least one digit per value and a separator between values
      if (available < 2 * values - 1)
        Refuse(path, "its header claims " + std::to_string(values) + " values, the file holds text for fewer.");
    }
    else if (encoding == "hex")
    {
      if (available / 2 < bytes)
        Refuse(path, "its header claims " + Bytes(bytes) + " of pixel data, the file holds hex digits for fewer.");
    }
    else if (encoding == "bz2" || encoding == "bzip2")
    {
      Refuse(path, "bzip2-compressed pixel data is not supported.");
    }
    else
    {
      Refuse(path, "the encoding \"" + *encodingText + "\" is not known.");
    }
  }
}
