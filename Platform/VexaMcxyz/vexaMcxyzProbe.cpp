#include "vexaMcxyzProbe.h"

#include <QByteArray>
#include <QXmlStreamReader>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace vexa
{
  namespace mcxyz
  {
    namespace
    {
      // A probe holds a handful of sources; anything far larger is not a probe file.
      constexpr std::streamoff MaximumProbeFileBytes = 1 << 20;
      constexpr std::size_t MaximumSources = 4096;

      std::string Where(const std::string &origin, const QXmlStreamReader &xml)
      {
        return origin + ", line " + std::to_string(xml.lineNumber());
      }

      /** A number in the "C" notation that fills the whole text and is finite. */
      double ParseNumber(const QStringRef &text, const std::string &name, const std::string &where)
      {
        const std::string s = text.toString().trimmed().toStdString();
        std::istringstream in(s);
        in.imbue(std::locale::classic());
        double value = 0;
        in >> value;
        if (s.empty() || in.fail() || !in.eof() || !std::isfinite(value))
          throw std::runtime_error(where + ": attribute \"" + name + "\" is not a number: \"" + s + "\"");
        return value;
      }

      LightSource::Profile ParseProfile(const QStringRef &text, const std::string &where)
      {
        const QString p = text.toString().trimmed();
        if (p == "pencil")
          return LightSource::Profile::Pencil;
        if (p == "gaussian")
          return LightSource::Profile::Gaussian;
        if (p == "disc")
          return LightSource::Profile::Disc;
        if (p == "rectangle")
          return LightSource::Profile::Rectangle;
        throw std::runtime_error(where + ": unknown profile \"" + p.toStdString() +
                                 "\" (pencil, gaussian, disc or rectangle)");
      }

      LightSource ParseSource(const QXmlStreamReader &xml, const std::string &origin)
      {
        const std::string where = Where(origin, xml);
        LightSource src;
        for (const QXmlStreamAttribute &a : xml.attributes())
        {
          const std::string name = a.name().toString().toStdString();
          if (name == "profile")
            src.profile = ParseProfile(a.value(), where);
          else if (name == "x")
            src.positionCm[0] = ParseNumber(a.value(), name, where);
          else if (name == "y")
            src.positionCm[1] = ParseNumber(a.value(), name, where);
          else if (name == "z")
            src.positionCm[2] = ParseNumber(a.value(), name, where);
          else if (name == "dirX")
            src.direction[0] = ParseNumber(a.value(), name, where);
          else if (name == "dirY")
            src.direction[1] = ParseNumber(a.value(), name, where);
          else if (name == "dirZ")
            src.direction[2] = ParseNumber(a.value(), name, where);
          else if (name == "radius")
            src.radiusCm = ParseNumber(a.value(), name, where);
          else if (name == "width")
            src.widthCm = ParseNumber(a.value(), name, where);
          else if (name == "length")
            src.lengthCm = ParseNumber(a.value(), name, where);
          else if (name == "weight")
            src.weight = ParseNumber(a.value(), name, where);
          else
            throw std::runtime_error(where + ": unknown attribute \"" + name + "\" of <source>");
        }
        return src;
      }
    }

    Illumination ParseProbe(const std::string &xmlText, const std::string &origin)
    {
      QXmlStreamReader xml(QByteArray(xmlText.data(), static_cast<int>(xmlText.size())));
      Illumination ill;
      bool sawRoot = false;
      int depth = 0;
      while (!xml.atEnd())
      {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement)
        {
          ++depth;
          const QString name = xml.name().toString();
          if (depth == 1)
          {
            if (name != "probe")
              throw std::runtime_error(Where(origin, xml) + ": the root element is <" + name.toStdString() +
                                       ">, not <probe>");
            sawRoot = true;
          }
          else if (depth == 2 && name == "source")
          {
            if (ill.sources.size() >= MaximumSources)
              throw std::runtime_error(Where(origin, xml) + ": more than " + std::to_string(MaximumSources) +
                                       " light sources");
            ill.sources.push_back(ParseSource(xml, origin));
          }
          else
          {
            throw std::runtime_error(Where(origin, xml) + ": unexpected element <" + name.toStdString() + ">");
          }
        }
        else if (token == QXmlStreamReader::EndElement)
        {
          --depth;
        }
        else if (token == QXmlStreamReader::Characters && !xml.isWhitespace())
        {
          throw std::runtime_error(Where(origin, xml) + ": unexpected text \"" +
                                   xml.text().toString().trimmed().left(40).toStdString() + "\"");
        }
      }
      if (xml.hasError())
        throw std::runtime_error(Where(origin, xml) +
                                 ": not a well-formed XML file: " + xml.errorString().toStdString());
      if (!sawRoot)
        throw std::runtime_error(origin + ": no <probe> element");
      try
      {
        ill.Validate();
      }
      catch (const std::invalid_argument &e)
      {
        throw std::runtime_error(origin + ": " + e.what());
      }
      return ill;
    }

    Illumination ReadProbeFile(const std::string &path)
    {
      std::ifstream in(path, std::ios::binary);
      if (!in)
        throw std::runtime_error("Cannot open the probe file \"" + path + "\"");
      in.seekg(0, std::ios::end);
      const std::streamoff size = in.tellg();
      if (size < 0)
        throw std::runtime_error("Cannot read the probe file \"" + path + "\"");
      if (size > MaximumProbeFileBytes)
        throw std::runtime_error("The probe file \"" + path + "\" is larger than 1 MiB; it is not a probe file");
      in.seekg(0, std::ios::beg);
      std::string text(static_cast<std::size_t>(size), '\0');
      if (size > 0 && !in.read(&text[0], size))
        throw std::runtime_error("Cannot read the probe file \"" + path + "\"");
      return ParseProbe(text, "probe file \"" + path + "\"");
    }
  }
}
