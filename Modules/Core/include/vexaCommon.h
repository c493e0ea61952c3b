#ifndef vexaCommon_h
#define vexaCommon_h

// The class macros of every reference-counted class of the system. A class
// declares itself with exactly one of vexaClassMacro / vexaClassMacroItkParent
// and, as it needs, one of the New macros and vexaCloneMacro.

#include "vexaGetClassHierarchy.h"

#include <itkLightObject.h>
#include <itkMacro.h>
#include <itkSmartPointer.h>

#include <sstream>
#include <string>
#include <vector>

#define VEXA_CLASS_MACRO_COMMON(className, SuperClassName)                                                             \
  typedef className Self;                                                                                              \
  typedef SuperClassName Superclass;                                                                                   \
  typedef ::itk::SmartPointer<Self> Pointer;                                                                           \
  typedef ::itk::SmartPointer<const Self> ConstPointer;                                                                \
  static const char *GetStaticNameOfClass() { return #className; }                                                     \
  const char *GetNameOfClass() const override { return #className; }

/** For a class whose superclass already has GetClassHierarchy (a class-macro class or a toolkit base). */
#define vexaClassMacro(className, SuperClassName)                                                                      \
  VEXA_CLASS_MACRO_COMMON(className, SuperClassName)                                                                   \
  std::vector<std::string> GetClassHierarchy() const override { return ::vexa::GetStaticClassHierarchy<Self>(); }

/** For the first class-macro class on an ITK base: introduces GetClassHierarchy. */
#define vexaClassMacroItkParent(className, SuperClassName)                                                             \
  VEXA_CLASS_MACRO_COMMON(className, SuperClassName)                                                                   \
  virtual std::vector<std::string> GetClassHierarchy() const { return ::vexa::GetStaticClassHierarchy<Self>(); }

/** New() without object factory, and CreateAnother(). */
#define vexaFactorylessNewMacro(className)                                                                             \
  static Pointer New()                                                                                                 \
  {                                                                                                                    \
    Pointer smartPtr = new className();                                                                                \
    smartPtr->UnRegister();                                                                                            \
    return smartPtr;                                                                                                   \
  }                                                                                                                    \
  ::itk::LightObject::Pointer CreateAnother() const override                                                           \
  {                                                                                                                    \
    ::itk::LightObject::Pointer p = className::New().GetPointer();                                                     \
    return p;                                                                                                          \
  }

/** Clone(): the virtual InternalClone() cast to this class (null when it is not one). */
#define vexaCloneCastMacro(className)                                                                                  \
  Pointer Clone() const                                                                                                \
  {                                                                                                                    \
    ::itk::LightObject::Pointer loPtr = this->InternalClone();                                                         \
    Pointer rval = dynamic_cast<className *>(loPtr.GetPointer());                                                      \
    return rval;                                                                                                       \
  }

#define vexaNewMacro(className) vexaFactorylessNewMacro(className) vexaCloneCastMacro(className)

/** New(parameter): the constructor takes one argument. */
#define vexaNewMacro1Param(className, ParamType)                                                                       \
  static Pointer New(ParamType p)                                                                                      \
  {                                                                                                                    \
    Pointer smartPtr = new className(p);                                                                               \
    smartPtr->UnRegister();                                                                                            \
    return smartPtr;                                                                                                   \
  }                                                                                                                    \
  vexaCloneCastMacro(className)

/** The copy variant of InternalClone: a new object made by the copy constructor. Place under protected:. */
#define vexaCloneMacro(className)                                                                                      \
  ::itk::LightObject::Pointer InternalClone() const override                                                           \
  {                                                                                                                    \
    Pointer smartPtr = new className(*this);                                                                           \
    smartPtr->UnRegister();                                                                                            \
    ::itk::LightObject::Pointer lo = smartPtr.GetPointer();                                                            \
    return lo;                                                                                                         \
  }

/**
 * Misuse of an ITK-style class: an itk::ExceptionObject whose description is
 * "itk::ERROR: <class>(<address>): <message>" and whose location is "unknown"
 * in every build type.
 */
#define vexaItkExceptionMacro(x)                                                                                       \
  {                                                                                                                    \
    std::ostringstream vexaItkMessage;                                                                                 \
    vexaItkMessage << "itk::ERROR: " << this->GetNameOfClass() << "(" << static_cast<const void *>(this) << "): " x;   \
    throw ::itk::ExceptionObject(__FILE__, __LINE__, vexaItkMessage.str().c_str(), "unknown");                         \
  }

#endif
