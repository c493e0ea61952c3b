#ifndef vexaUSDeviceWriterXML_h
#define vexaUSDeviceWriterXML_h

#include "VexaUSExports.h"
#include "vexaUSDeviceReaderXML.h"

#include <string>

namespace vexa
{
  /**
   * Writes a device configuration file that USDeviceReaderXML reads back
   * with the same values (format: Platform/VexaUS/README.md). The file is
   * replaced in one step: a write that fails leaves the old file as it was.
   */
  class VEXAUS_EXPORT USDeviceWriterXML
  {
  public:
    USDeviceWriterXML();
    ~USDeviceWriterXML();

    void SetFilename(const std::string &filename);
    std::string GetFilename() const { return m_Filename; }

    /** Writes the record; false, with an error record naming the file, when it cannot. */
    bool WriteUltrasoundVideoDeviceConfiguration(const USDeviceReaderXML::USVideoDeviceConfigData_ &config);

  private:
    std::string m_Filename;
  };
}

#endif
