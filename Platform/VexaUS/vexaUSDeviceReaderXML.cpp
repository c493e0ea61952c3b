#include "vexaUSDeviceReaderXML.h"

#include <vexaLog.h>

#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <cmath>
#include <limits>
#include <stdexcept>

namespace vexa
{
  namespace
  {
    // A configuration file is a few kilobytes; anything far larger is not one.
    constexpr qint64 kMaximumFileSize = qint64(16) << 20;

    /** A value that is not what its attribute takes; carries the reason. */
    struct BadValue : std::runtime_error
    {
      using std::runtime_error::runtime_error;
    };

    class Attributes
    {
    public:
      explicit Attributes(const QXmlStreamReader &xml)
        : m_Attributes(xml.attributes()), m_Element(xml.name().toString())
      {
      }

      bool Has(const char *name) const { return m_Attributes.hasAttribute(QLatin1String(name)); }

      void Text(const char *name, std::string &target) const
      {
        if (Has(name))
          target = m_Attributes.value(QLatin1String(name)).toString().toStdString();
      }

      void Integer(const char *name, int &target) const
      {
        if (!Has(name))
          return;
        bool ok = false;
        const int value = m_Attributes.value(QLatin1String(name)).toInt(&ok);
        if (!ok)
          Fail(name, "a whole number");
        target = value;
      }

      void Unsigned(const char *name, std::uint32_t &target) const
      {
        if (!Has(name))
          return;
        bool ok = false;
        const uint value = m_Attributes.value(QLatin1String(name)).toUInt(&ok);
        if (!ok)
          Fail(name, "a whole number from 0 to 4294967295");
        target = value;
      }

      void Real(const char *name, double &target, bool positive = false) const
      {
        if (!Has(name))
          return;
        bool ok = false;
        // QStringRef::toDouble reads the "C" locale's notation whatever the program's locale
        const double value = m_Attributes.value(QLatin1String(name)).toDouble(&ok);
        if (!ok || !std::isfinite(value) || (positive && !(value > 0.0)))
          Fail(name, positive ? "a positive number" : "a number");
        target = value;
      }

      void Boolean(const char *name, bool &target) const
      {
        if (!Has(name))
          return;
        const QStringRef value = m_Attributes.value(QLatin1String(name));
        if (value == QLatin1String("true"))
          target = true;
        else if (value == QLatin1String("false"))
          target = false;
        else
          Fail(name, "true or false");
      }

    private:
      [[noreturn]] void Fail(const char *name, const char *what) const
      {
        throw BadValue("the attribute " + std::string(name) + " of <" + m_Element.toStdString() + "> is \"" +
                       m_Attributes.value(QLatin1String(name)).toString().toStdString() + "\", not " + what);
      }

      QXmlStreamAttributes m_Attributes;
      QString m_Element;
    };

    USProbe::Pointer ReadProbe(QXmlStreamReader &xml)
    {
      USProbe::Pointer probe = USProbe::New();
      std::string name;
      Attributes(xml).Text("name", name);
      probe->SetName(name);
      while (xml.readNextStartElement())
      {
        const Attributes attributes(xml);
        if (xml.name() == QLatin1String("depth"))
        {
          if (!attributes.Has("value"))
            throw BadValue("a <depth> of the probe \"" + name + "\" has no value");
          int depth = 0;
          attributes.Integer("value", depth);
          Vector3D spacing;
          spacing.Fill(1.0);
          attributes.Real("spacingX", spacing[0], true);
          attributes.Real("spacingY", spacing[1], true);
          attributes.Real("spacingZ", spacing[2], true);
          probe->SetDepthAndSpacing(depth, spacing);
        }
        else if (xml.name() == QLatin1String("cropping"))
        {
          USProbe::USProbeCropping_ c;
          attributes.Unsigned("top", c.top);
          attributes.Unsigned("bottom", c.bottom);
          attributes.Unsigned("left", c.left);
          attributes.Unsigned("right", c.right);
          probe->SetProbeCropping(c.top, c.bottom, c.left, c.right);
        }
        xml.skipCurrentElement();
      }
      return probe;
    }
  }

  USDeviceReaderXML::USDeviceReaderXML() = default;
  USDeviceReaderXML::~USDeviceReaderXML() = default;

  void USDeviceReaderXML::SetFilename(const std::string &filename) { m_Filename = filename; }

  bool USDeviceReaderXML::ReadUltrasoundDeviceConfiguration()
  {
    const QString path = QString::fromStdString(m_Filename);
    QFile file(path);
    if (m_Filename.empty() || !QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
    {
      VEXA_ERROR("USDeviceReaderXML") << "Cannot read the device configuration file \"" << m_Filename
                                      << "\": it does not exist or cannot be opened.";
      return false;
    }
    if (file.size() > kMaximumFileSize)
    {
      VEXA_ERROR("USDeviceReaderXML") << "The device configuration file \"" << m_Filename << "\" has " << file.size()
                                      << " bytes; a configuration has far fewer.";
      return false;
    }

    USVideoDeviceConfigData_ config;
    QXmlStreamReader xml(&file);
    try
    {
      if (!xml.readNextStartElement())
        throw BadValue("there is no element");
      if (xml.name() != QLatin1String("ultrasoundDevice"))
        throw BadValue("the first element is <" + xml.name().toString().toStdString() + ">, not <ultrasoundDevice>");
      {
        const Attributes root(xml);
        if (!root.Has("fileversion"))
          throw BadValue("<ultrasoundDevice> has no fileversion");
        root.Real("fileversion", config.fileversion);
      }
      while (xml.readNextStartElement())
      {
        const Attributes attributes(xml);
        if (xml.name() == QLatin1String("general"))
        {
          attributes.Text("deviceType", config.deviceType);
          attributes.Text("deviceName", config.deviceName);
          attributes.Text("manufacturer", config.manufacturer);
          attributes.Text("model", config.model);
          attributes.Text("comment", config.comment);
          xml.skipCurrentElement();
        }
        else if (xml.name() == QLatin1String("video"))
        {
          attributes.Integer("deviceIndex", config.deviceIndex);
          attributes.Text("filePath", config.filePath);
          attributes.Boolean("useGreyscale", config.useGreyscale);
          attributes.Boolean("useResolutionOverride", config.useResolutionOverride);
          attributes.Integer("resolutionWidth", config.resolutionWidth);
          attributes.Integer("resolutionHeight", config.resolutionHeight);
          xml.skipCurrentElement();
        }
        else if (xml.name() == QLatin1String("probes"))
        {
          while (xml.readNextStartElement())
          {
            if (xml.name() == QLatin1String("probe"))
              config.probes.push_back(ReadProbe(xml));
            else
              xml.skipCurrentElement();
          }
        }
        else
          xml.skipCurrentElement(); // written by a later version: not ours to judge
      }
      // the rest of the document must be well formed too
      while (!xml.atEnd() && !xml.hasError())
        xml.readNext();
    }
    catch (const BadValue &e)
    {
      VEXA_ERROR("USDeviceReaderXML") << "The device configuration file \"" << m_Filename << "\", line "
                                      << xml.lineNumber() << ": " << e.what() << ".";
      return false;
    }
    if (xml.hasError())
    {
      VEXA_ERROR("USDeviceReaderXML") << "The device configuration file \"" << m_Filename << "\", line "
                                      << xml.lineNumber() << ", column " << xml.columnNumber() << ": "
                                      << xml.errorString().toStdString() << ".";
      return false;
    }
    m_Config = std::move(config);
    return true;
  }
}
