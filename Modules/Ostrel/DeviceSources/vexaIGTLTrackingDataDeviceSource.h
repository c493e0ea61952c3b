#ifndef vexaIGTLTrackingDataDeviceSource_h
#define vexaIGTLTrackingDataDeviceSource_h

#include "vexaIGTLDeviceSource.h"

namespace vexa
{
  /**
   * A device source of tracking data: every update hands on the oldest
   * waiting tracking-data (TDATA) or transform message, as the tracking
   * message type says. TDATA_OR_TRANSFORM takes one of each kind and prefers
   * the transform when both were waiting.
   */
  class OSTREL_EXPORT IGTLTrackingDataDeviceSource : public IGTLDeviceSource
  {
  public:
    vexaClassMacro(IGTLTrackingDataDeviceSource, IGTLDeviceSource);
    vexaNewMacro(IGTLTrackingDataDeviceSource);

    enum TrackingMessageType
    {
      TDATA,
      TRANSFORM,
      QTDATA,
      TDATA_OR_TRANSFORM
    };

    virtual void SettrackingDataType(TrackingMessageType type);
    virtual TrackingMessageType GettrackingDataType() const;

  protected:
    IGTLTrackingDataDeviceSource();
    ~IGTLTrackingDataDeviceSource() override;

    void GenerateData() override;

    TrackingMessageType m_trackingMessageType;
  };
}

#endif
