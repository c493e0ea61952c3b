#ifndef vexaUSDeviceReaderXML_h
#define vexaUSDeviceReaderXML_h

#include "VexaUSExports.h"
#include "vexaUSProbe.h"

#include <string>
#include <vector>

namespace vexa
{
  /**
   * Reads a device configuration file (the format is described in
   * Platform/VexaUS/README.md). A file that is missing, unreadable, not well
   * formed or holds values that are not what their attribute takes makes
   * ReadUltrasoundDeviceConfiguration return false, with an error record
   * naming the file and the place; the record then stays as it was. File
   * versions and device types are not judged here: they reach the caller,
   * which decides what it can use.
   */
  class VEXAUS_EXPORT USDeviceReaderXML
  {
  public:
    /** A video device's configuration; texts are UTF-8. */
    struct USVideoDeviceConfigData_
    {
      double fileversion = 0.0;
      std::string deviceType;
      std::string deviceName;
      std::string manufacturer;
      std::string model;
      std::string comment;
      int deviceIndex = 0;
      std::string filePath;
      bool useGreyscale = true;
      bool useResolutionOverride = false;
      int resolutionWidth = 640;
      int resolutionHeight = 480;
      std::vector<USProbe::Pointer> probes;
    };

    USDeviceReaderXML();
    ~USDeviceReaderXML();

    void SetFilename(const std::string &filename);
    std::string GetFilename() const { return m_Filename; }

    /** Reads the file into the record; false on failure (see the class comment). */
    bool ReadUltrasoundDeviceConfiguration();

    /** The record of the last successful read (defaults before). */
    USVideoDeviceConfigData_ &GetUSVideoDeviceConfigData() { return m_Config; }

  private:
    std::string m_Filename;
    USVideoDeviceConfigData_ m_Config;
  };
}

#endif
