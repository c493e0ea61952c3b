#include "vexaBaseGeometry.h"

#include "vexaException.h"

#include <vexaLog.h>

#include <vnl/vnl_det.h>
#include <vnl/vnl_inverse.h>

#include <cmath>

namespace vexa
{
  BaseGeometry::BaseGeometry() : m_IndexToWorldTransform(TransformType::New()), m_Bounds{0, 1, 0, 1, 0, 1}
  {
    m_IndexToWorldTransform->SetIdentity();
  }

  BaseGeometry::BaseGeometry(const BaseGeometry &other)
    : itk::Object(), m_IndexToWorldTransform(TransformType::New()), m_Bounds(other.m_Bounds)
  {
    m_IndexToWorldTransform->SetIdentity();
    m_IndexToWorldTransform->SetMatrix(other.m_IndexToWorldTransform->GetMatrix());
    m_IndexToWorldTransform->SetOffset(other.m_IndexToWorldTransform->GetOffset());
  }

  BaseGeometry::~BaseGeometry() = default;

  void BaseGeometry::SetIndexToWorldTransform(const TransformType *transform)
  {
    if (!transform)
      vexaThrow() << "BaseGeometry::SetIndexToWorldTransform: the transform is null.";
    m_IndexToWorldTransform->SetMatrix(transform->GetMatrix());
    m_IndexToWorldTransform->SetOffset(transform->GetOffset());
    Modified();
  }

  AffineMatrix4x4 BaseGeometry::GetMatrix4x4() const
  {
    AffineMatrix4x4 m;
    m.SetIdentity();
    const auto &matrix = m_IndexToWorldTransform->GetMatrix();
    const auto &offset = m_IndexToWorldTransform->GetOffset();
    for (unsigned int r = 0; r < 3; ++r)
    {
      for (unsigned int c = 0; c < 3; ++c)
        m[r][c] = matrix[r][c];
      m[r][3] = offset[r];
    }
    return m;
  }

  Point3D BaseGeometry::GetOrigin() const
  {
    const auto &offset = m_IndexToWorldTransform->GetOffset();
    Point3D origin;
    for (unsigned int i = 0; i < 3; ++i)
      origin[i] = offset[i];
    return origin;
  }

  void BaseGeometry::SetOrigin(const Point3D &origin)
  {
    if (origin == GetOrigin())
      return;
    TransformType::OutputVectorType offset;
    for (unsigned int i = 0; i < 3; ++i)
      offset[i] = origin[i];
    m_IndexToWorldTransform->SetOffset(offset);
    Modified();
  }

  Vector3D BaseGeometry::GetSpacing() const
  {
    const auto &matrix = m_IndexToWorldTransform->GetMatrix();
    Vector3D spacing;
    for (unsigned int c = 0; c < 3; ++c)
      spacing[c] = std::sqrt(matrix[0][c] * matrix[0][c] + matrix[1][c] * matrix[1][c] + matrix[2][c] * matrix[2][c]);
    return spacing;
  }

  void BaseGeometry::SetSpacing(const Vector3D &spacing, bool)
  {
    for (unsigned int c = 0; c < 3; ++c)
    {
      if (!(spacing[c] > 0.0) || !std::isfinite(spacing[c]))
        vexaThrow() << "Spacing must be positive and finite; got " << spacing << ".";
    }
    const Vector3D current = GetSpacing();
    if (current == spacing)
      return;
    AffineMatrix3D matrix = m_IndexToWorldTransform->GetMatrix();
    for (unsigned int c = 0; c < 3; ++c)
    {
      if (current[c] > 0.0 && std::isfinite(current[c]))
      {
        const ScalarType factor = spacing[c] / current[c];
        for (unsigned int r = 0; r < 3; ++r)
          matrix[r][c] *= factor;
      }
      else
      {
        for (unsigned int r = 0; r < 3; ++r)
          matrix[r][c] = (r == c) ? spacing[c] : 0.0;
      }
    }
    m_IndexToWorldTransform->SetMatrix(matrix);
    Modified();
  }

  void BaseGeometry::SetSpacing(const ScalarType spacing[3], bool enforceSetSpacing)
  {
    SetSpacing(Vector3D(spacing), enforceSetSpacing);
  }

  void BaseGeometry::SetBounds(const BoundsArrayType &bounds)
  {
    for (unsigned int a = 0; a < 3; ++a)
    {
      if (!std::isfinite(bounds[2 * a]) || !std::isfinite(bounds[2 * a + 1]) || bounds[2 * a] > bounds[2 * a + 1])
        vexaThrow() << "Bounds must be finite with minimum <= maximum; axis " << a << " has " << bounds[2 * a] << " to "
                    << bounds[2 * a + 1] << ".";
    }
    if (bounds == m_Bounds)
      return;
    m_Bounds = bounds;
    Modified();
  }

  ScalarType BaseGeometry::GetExtent(unsigned int direction) const
  {
    if (direction > 2)
      vexaThrow() << "BaseGeometry::GetExtent: axis " << direction << " does not exist.";
    return m_Bounds[2 * direction + 1] - m_Bounds[2 * direction];
  }

  ScalarType BaseGeometry::GetExtentInMM(unsigned int direction) const
  {
    return GetExtent(direction) * GetSpacing()[direction];
  }

  Point3D BaseGeometry::IndexToWorld(const Point3D &index) const
  {
    return Point3D(m_IndexToWorldTransform->TransformPoint(index));
  }

  Point3D BaseGeometry::WorldToIndex(const Point3D &world) const
  {
    if (!IsValid())
      vexaThrow() << "BaseGeometry::WorldToIndex: the index-to-world matrix is not invertible.";
    const vnl_matrix_fixed<ScalarType, 3, 3> inverse = vnl_inverse(m_IndexToWorldTransform->GetMatrix().GetVnlMatrix());
    const Point3D origin = GetOrigin();
    vnl_vector_fixed<ScalarType, 3> d;
    for (unsigned int i = 0; i < 3; ++i)
      d[i] = world[i] - origin[i];
    const vnl_vector_fixed<ScalarType, 3> index = inverse * d;
    Point3D result;
    for (unsigned int i = 0; i < 3; ++i)
      result[i] = index[i];
    return result;
  }

  bool BaseGeometry::IsValid() const
  {
    const auto &matrix = m_IndexToWorldTransform->GetMatrix();
    const auto &offset = m_IndexToWorldTransform->GetOffset();
    for (unsigned int r = 0; r < 3; ++r)
    {
      if (!std::isfinite(offset[r]))
        return false;
      for (unsigned int c = 0; c < 3; ++c)
        if (!std::isfinite(matrix[r][c]))
          return false;
    }
    return std::abs(vnl_det(matrix.GetVnlMatrix())) > 0.0;
  }

  itk::ModifiedTimeType BaseGeometry::GetMTime() const
  {
    const itk::ModifiedTimeType own = Superclass::GetMTime();
    const itk::ModifiedTimeType transform = m_IndexToWorldTransform->GetMTime();
    return own > transform ? own : transform;
  }

  void BaseGeometry::PrintSelf(std::ostream &os, itk::Indent indent) const
  {
    Superclass::PrintSelf(os, indent);
    os << indent << "Origin: " << GetOrigin() << std::endl;
    os << indent << "Spacing: " << GetSpacing() << std::endl;
    os << indent << "Matrix: " << std::endl << m_IndexToWorldTransform->GetMatrix();
    os << indent << "Bounds: [" << m_Bounds[0] << ", " << m_Bounds[1] << ", " << m_Bounds[2] << ", " << m_Bounds[3]
       << ", " << m_Bounds[4] << ", " << m_Bounds[5] << "]" << std::endl;
  }

  bool Equal(const BaseGeometry &left, const BaseGeometry &right, ScalarType eps, bool verbose)
  {
    bool result = true;
    const auto near = [eps](ScalarType a, ScalarType b) { return std::abs(a - b) <= eps; };

    const Vector3D ls = left.GetSpacing(), rs = right.GetSpacing();
    const Point3D lo = left.GetOrigin(), ro = right.GetOrigin();
    for (unsigned int i = 0; i < 3; ++i)
    {
      if (!near(ls[i], rs[i]))
      {
        result = false;
        VEXA_INFO(verbose) << "Spacing differs: " << ls << " vs " << rs;
        break;
      }
    }
    for (unsigned int i = 0; i < 3; ++i)
    {
      if (!near(lo[i], ro[i]))
      {
        result = false;
        VEXA_INFO(verbose) << "Origin differs: " << lo << " vs " << ro;
        break;
      }
    }
    const auto &lm = left.GetIndexToWorldTransform()->GetMatrix();
    const auto &rm = right.GetIndexToWorldTransform()->GetMatrix();
    bool matrixEqual = true;
    for (unsigned int r = 0; r < 3 && matrixEqual; ++r)
      for (unsigned int c = 0; c < 3 && matrixEqual; ++c)
        matrixEqual = near(lm[r][c], rm[r][c]);
    if (!matrixEqual)
    {
      result = false;
      VEXA_INFO(verbose) << "Index-to-world matrix differs:\n" << lm << "vs\n" << rm;
    }
    const auto &lb = left.GetBounds(), &rb = right.GetBounds();
    for (unsigned int i = 0; i < 6; ++i)
    {
      if (!near(lb[i], rb[i]))
      {
        result = false;
        VEXA_INFO(verbose) << "Bounds differ at entry " << i << ": " << lb[i] << " vs " << rb[i];
        break;
      }
    }
    return result;
  }
}
