#include "vexaIGTLMeasurements.h"

#include <vexaLog.h>

#include <usGetModuleContext.h>
#include <usModuleContext.h>

#include <chrono>
#include <exception>
#include <fstream>
#include <locale>
#include <sstream>

namespace vexa
{
  IGTLMeasurements::IGTLMeasurements() : m_IsStarted(false) {}

  IGTLMeasurements::~IGTLMeasurements() = default;

  IGTLMeasurements *IGTLMeasurements::GetInstance()
  {
    // The reference is kept while its service is registered and looked up
    // again otherwise, so that the service is found again when the module
    // was stopped and started.
    static std::mutex mutex;
    static us::ServiceReference<IGTLMeasurements> reference;
    try
    {
      us::ModuleContext *context = us::GetModuleContext();
      std::lock_guard<std::mutex> lock(mutex);
      if (!reference)
        reference = context->GetServiceReference<IGTLMeasurements>();
      if (!reference)
        return nullptr;
      return context->GetService(reference);
    }
    catch (const std::exception &e)
    {
      VEXA_WARN("IGTLMeasurements") << "The measurements service cannot be reached: " << e.what();
    }
    return nullptr;
  }

  void IGTLMeasurements::AddMeasurement(unsigned int measurementPoint, unsigned int index, long long timestamp)
  {
    if (timestamp == 0)
    {
      timestamp =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count();
    }
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (!m_IsStarted)
      return;
    m_MeasurementPoints[measurementPoint].push_back(std::make_pair(timestamp, index));
  }

  bool IGTLMeasurements::ExportData(std::string filename)
  {
    MeasurementPoints points;
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      points = m_MeasurementPoints;
    }

    // Numbers in the classic form whatever the process's locale is; the
    // process's locale itself is left alone.
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << points.size() << "\n";
    for (const auto &point : points)
    {
      text << static_cast<unsigned long long>(point.second.size()) << ";" << point.first << ";";
      for (const auto &measurement : point.second)
        text << measurement.first << ";" << measurement.second << ";";
      text << "\n";
    }

    std::ofstream file(filename.c_str(), std::ios::out | std::ios::trunc);
    if (!file)
    {
      VEXA_ERROR("IGTLMeasurements") << "Cannot write the measurements to " << filename;
      return false;
    }
    file << text.str();
    file.flush();
    file.close();
    if (!file)
    {
      VEXA_ERROR("IGTLMeasurements") << "Writing the measurements to " << filename << " failed";
      return false;
    }
    return !points.empty();
  }

  void IGTLMeasurements::Reset()
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_MeasurementPoints.clear();
  }

  void IGTLMeasurements::SetStarted(bool started)
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_IsStarted = started;
  }
}
