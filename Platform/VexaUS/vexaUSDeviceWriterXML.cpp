#include "vexaUSDeviceWriterXML.h"

#include <vexaLog.h>
#include <vexaSafeFileReplace.h>

#include <QByteArray>
#include <QLocale>
#include <QXmlStreamWriter>

#include <fstream>
#include <stdexcept>

namespace vexa
{
  namespace
  {
    QString Text(const std::string &utf8) { return QString::fromStdString(utf8); }
    // shortest text that reads back as the same double; always the "C" locale's notation
    QString Number(double value) { return QString::number(value, 'g', QLocale::FloatingPointShortest); }
    QString Boolean(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }
  }

  USDeviceWriterXML::USDeviceWriterXML() = default;
  USDeviceWriterXML::~USDeviceWriterXML() = default;

  void USDeviceWriterXML::SetFilename(const std::string &filename) { m_Filename = filename; }

  bool USDeviceWriterXML::WriteUltrasoundVideoDeviceConfiguration(
    const USDeviceReaderXML::USVideoDeviceConfigData_ &config)
  {
    if (m_Filename.empty())
    {
      VEXA_ERROR("USDeviceWriterXML") << "No file name for the device configuration.";
      return false;
    }

    QByteArray document;
    {
      QXmlStreamWriter xml(&document);
      xml.setAutoFormatting(true);
      xml.setAutoFormattingIndent(2);
      xml.writeStartDocument();
      xml.writeStartElement("ultrasoundDevice");
      xml.writeAttribute("fileversion", Number(config.fileversion));

      xml.writeEmptyElement("general");
      xml.writeAttribute("deviceType", Text(config.deviceType));
      xml.writeAttribute("deviceName", Text(config.deviceName));
      xml.writeAttribute("manufacturer", Text(config.manufacturer));
      xml.writeAttribute("model", Text(config.model));
      xml.writeAttribute("comment", Text(config.comment));

      xml.writeEmptyElement("video");
      xml.writeAttribute("deviceIndex", QString::number(config.deviceIndex));
      xml.writeAttribute("filePath", Text(config.filePath));
      xml.writeAttribute("useGreyscale", Boolean(config.useGreyscale));
      xml.writeAttribute("useResolutionOverride", Boolean(config.useResolutionOverride));
      xml.writeAttribute("resolutionWidth", QString::number(config.resolutionWidth));
      xml.writeAttribute("resolutionHeight", QString::number(config.resolutionHeight));

      xml.writeStartElement("probes");
      for (const USProbe::Pointer &probe : config.probes)
      {
        if (probe.IsNull())
          continue;
        xml.writeStartElement("probe");
        xml.writeAttribute("name", Text(probe->GetName()));
        for (const auto &entry : probe->GetDepthsAndSpacing())
        {
          xml.writeEmptyElement("depth");
          xml.writeAttribute("value", QString::number(entry.first));
          xml.writeAttribute("spacingX", Number(entry.second[0]));
          xml.writeAttribute("spacingY", Number(entry.second[1]));
          xml.writeAttribute("spacingZ", Number(entry.second[2]));
        }
        const USProbe::USProbeCropping_ c = probe->GetProbeCropping();
        xml.writeEmptyElement("cropping");
        xml.writeAttribute("top", QString::number(c.top));
        xml.writeAttribute("bottom", QString::number(c.bottom));
        xml.writeAttribute("left", QString::number(c.left));
        xml.writeAttribute("right", QString::number(c.right));
        xml.writeEndElement(); // probe
      }
      xml.writeEndElement(); // probes
      xml.writeEndElement(); // ultrasoundDevice
      xml.writeEndDocument();
    }

    try
    {
      ReplaceFileSafely(m_Filename, [&document](const std::string &writePath) {
        std::ofstream out(writePath, std::ios::binary | std::ios::trunc);
        out.write(document.constData(), document.size());
        out.close();
        if (!out)
          throw std::runtime_error("writing \"" + writePath + "\" failed");
      });
    }
    catch (const std::exception &e)
    {
      VEXA_ERROR("USDeviceWriterXML") << "Cannot write the device configuration file \"" << m_Filename
                                      << "\": " << e.what();
      return false;
    }
    return true;
  }
}
