#ifndef vexaBaseGeometry_h
#define vexaBaseGeometry_h

#include "VexaCoreExports.h"
#include "vexaPoint.h"
#include "vexaVector.h"

#include <vexaCommon.h>

#include <itkMatrix.h>
#include <itkObject.h>
// g++ 12 reports a start value inside ITK's eigen analysis that it cannot
// prove set, in every file that makes a transform, system header or not.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <itkScalableAffineTransform.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include <array>

namespace vexa
{
  using AffineMatrix3D = itk::Matrix<ScalarType, 3, 3>;
  /** The homogeneous form of an index-to-world transform: rows of (matrix | origin), last row (0 0 0 1). */
  using AffineMatrix4x4 = itk::Matrix<ScalarType, 4, 4>;

  /**
   * Where data lies in the world: an index-to-world transform (matrix and
   * origin) and the bounds of the data in index coordinates.
   *
   * The spacing is not stored: it is the length of each column of the
   * matrix, so spacing and matrix can never disagree. SetSpacing rescales
   * the columns and keeps the direction.
   */
  class VEXACORE_EXPORT BaseGeometry : public itk::Object
  {
  public:
    vexaClassMacroItkParent(BaseGeometry, itk::Object);
    vexaNewMacro(BaseGeometry);

    using TransformType = itk::ScalableAffineTransform<ScalarType, 3>;
    using BoundsArrayType = std::array<ScalarType, 6>;

    /** The live transform; changing its matrix changes the spacing. */
    TransformType *GetIndexToWorldTransform() { return m_IndexToWorldTransform; }
    const TransformType *GetIndexToWorldTransform() const { return m_IndexToWorldTransform; }
    /** Takes the matrix and offset of the given transform (a copy; the transform is not shared). */
    virtual void SetIndexToWorldTransform(const TransformType *transform);

    /** The 4x4 homogeneous index-to-world matrix. */
    AffineMatrix4x4 GetMatrix4x4() const;

    Point3D GetOrigin() const;
    virtual void SetOrigin(const Point3D &origin);

    /** The lengths of the matrix's columns. */
    Vector3D GetSpacing() const;
    /**
     * Rescales the columns of the matrix to the given lengths; a zero column
     * becomes the axis' unit vector times the spacing. Every entry must be
     * positive and finite (vexa::Exception otherwise). The flag is kept for
     * callers that pass it; every spacing is always taken.
     */
    virtual void SetSpacing(const Vector3D &spacing, bool enforceSetSpacing = false);
    void SetSpacing(const ScalarType spacing[3], bool enforceSetSpacing = false);

    /** Bounds in index coordinates: (min x, max x, min y, max y, min z, max z). */
    const BoundsArrayType &GetBounds() const { return m_Bounds; }
    virtual void SetBounds(const BoundsArrayType &bounds);
    /** Length of the bounds along an axis, in index units. */
    ScalarType GetExtent(unsigned int direction) const;
    /** Length of the bounds along an axis, in millimetres. */
    ScalarType GetExtentInMM(unsigned int direction) const;

    /** World coordinates of a (continuous) index, and back. */
    Point3D IndexToWorld(const Point3D &index) const;
    Point3D WorldToIndex(const Point3D &world) const;

    /** True when the matrix is invertible and every element finite. */
    bool IsValid() const;

    /** Includes the transform's modification time. */
    itk::ModifiedTimeType GetMTime() const override;

  protected:
    BaseGeometry();
    BaseGeometry(const BaseGeometry &other);
    ~BaseGeometry() override;
    vexaCloneMacro(BaseGeometry);

    void PrintSelf(std::ostream &os, itk::Indent indent) const override;

  private:
    TransformType::Pointer m_IndexToWorldTransform;
    BoundsArrayType m_Bounds;
  };

  /**
   * True when the two geometries have the same origin, spacing, matrix and
   * bounds within eps. With verbose set, each difference is logged.
   */
  VEXACORE_EXPORT bool Equal(const BaseGeometry &left, const BaseGeometry &right, ScalarType eps, bool verbose);
}

#endif
