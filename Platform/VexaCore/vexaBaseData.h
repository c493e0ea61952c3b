#ifndef vexaBaseData_h
#define vexaBaseData_h

#include "VexaCoreExports.h"
#include "vexaProportionalTimeGeometry.h"

#include <vexaCommon.h>

#include <itkDataObject.h>

#include <atomic>

namespace vexa
{
  class BaseDataSource;

  /**
   * Base of every datum of the toolkit: a pipeline data object with a time
   * geometry (one geometry per time step).
   */
  class VEXACORE_EXPORT BaseData : public itk::DataObject
  {
  public:
    vexaClassMacroItkParent(BaseData, itk::DataObject);

    /** The time geometry, or null before the datum is initialised. */
    TimeGeometry *GetTimeGeometry() { return m_TimeGeometry; }
    const TimeGeometry *GetTimeGeometry() const { return m_TimeGeometry; }
    /** Brings the datum's information up to date through its pipeline, then returns the time geometry. */
    const TimeGeometry *GetUpdatedTimeGeometry();
    /** Holds the given time geometry (not a copy). */
    virtual void SetTimeGeometry(TimeGeometry *geometry);
    /** Holds a copy of the given time geometry. */
    virtual void SetClonedTimeGeometry(const TimeGeometry *geometry);

    /** The live geometry of a time step, or null. */
    BaseGeometry *GetGeometry(int t = 0) const;
    /** Brings the information up to date through the pipeline, then GetGeometry(t). */
    BaseGeometry *GetUpdatedGeometry(int t = 0);
    /**
     * Gives every time step (at least one) an independent copy of the
     * geometry; null removes the time geometry.
     */
    virtual void SetGeometry(BaseGeometry *geometry);
    /** Same as SetGeometry; the given geometry is never held. */
    virtual void SetClonedGeometry(const BaseGeometry *geometry);

    /** The number of time steps of the time geometry (0 without one). */
    unsigned int GetTimeSteps() const;

    /** Sets the origin of the geometries of all time steps. */
    virtual void SetOrigin(const Point3D &origin);

    virtual bool IsInitialized() const;
    /** True when the time step holds no data. */
    virtual bool IsEmptyTimeStep(unsigned int t) const;
    /** True when no time step holds data. */
    virtual bool IsEmpty() const;

    /** The pipeline source that makes this datum, or null. */
    itk::SmartPointer<BaseDataSource> GetSource() const;

    /** Copies the time geometry of another datum. */
    void CopyInformation(const itk::DataObject *data) override;

    /** Includes the time geometry's modification time. */
    itk::ModifiedTimeType GetMTime() const override;

    /**
     * Reference counting that announces the deletion (itk::DeleteEvent)
     * exactly once, from the thread that releases the last reference, while
     * the object is still intact. ITK's own counting decides to announce from
     * a reading of the count that a concurrent release can overtake, so an
     * object released on two threads at once could die unannounced.
     */
    void Register() const override;
    void UnRegister() const noexcept override;
    int GetReferenceCount() const override;
    void SetReferenceCount(int count) override;
    /** A new reference, but only while the object is not being deleted (for weak pointers). */
    bool TryRegister() const;

  protected:
    BaseData();
    BaseData(const BaseData &other);
    ~BaseData() override;

    void PrintSelf(std::ostream &os, itk::Indent indent) const override;

  private:
    void AnnounceAndDelete() const noexcept;

    TimeGeometry::Pointer m_TimeGeometry;
    // below zero while the deletion is announced: no TryRegister succeeds any more
    mutable std::atomic<int> m_Count{1};
  };
}

// GetSource hands out a counted pointer: its users need the complete class.
#include "vexaBaseDataSource.h"

#endif
