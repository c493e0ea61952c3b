#ifndef vexaIGTLMeasurements_h
#define vexaIGTLMeasurements_h

#include "OstrelExports.h"

#include <vexaCommon.h>

#include <itkObject.h>

#include <list>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace vexa
{
  /**
   * Latency measurements of the process: at numbered measurement points,
   * pairs of a time stamp (nanoseconds) and an index, recorded while started
   * and written to a text file for later analysis. There is one, made by
   * Ostrel's module activator when the module starts and registered as a
   * service; reach it with GetInstance(). Safe to use from several threads.
   *
   * The file: a line with the number of measurement points, then one line
   * per point in ascending order: the number of pairs, the point, then each
   * pair's time stamp and index, every field followed by ";":
   *
   *   2
   *   2;1;1000;5;2000;6;
   *   1;3;1500;5;
   */
  class OSTREL_EXPORT IGTLMeasurements : public itk::Object
  {
  public:
    vexaClassMacroItkParent(IGTLMeasurements, itk::Object);

    typedef std::list<std::pair<long long, unsigned int>> MeasurementList;
    typedef std::map<unsigned int, MeasurementList> MeasurementPoints;

    /** The process's measurements (the registered service), or null while Ostrel's module is not started. */
    static IGTLMeasurements *GetInstance();

    /** Records (timestamp, index) at `measurementPoint` while started; a time stamp of 0 means now (steady clock, ns). */
    void AddMeasurement(unsigned int measurementPoint, unsigned int index, long long timestamp = 0);

    /** Writes the file; false when there was nothing to write or the file could not be written. */
    bool ExportData(std::string filename);

    /** Forgets every measurement; the started flag stays. */
    void Reset();

    /** Recording is on while started; it starts off. */
    void SetStarted(bool started);

  private:
    friend class IGTLModuleActivator;
    vexaFactorylessNewMacro(IGTLMeasurements);

    IGTLMeasurements();
    ~IGTLMeasurements() override;

    std::mutex m_Mutex; // guards both below
    MeasurementPoints m_MeasurementPoints;
    bool m_IsStarted;
  };
}

#endif
