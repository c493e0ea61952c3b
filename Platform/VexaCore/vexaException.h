#ifndef vexaException_h
#define vexaException_h

#include "VexaCoreExports.h"

#include <itkMacro.h>

#include <sstream>
#include <string>

namespace vexa
{
  /**
   * The toolkit exception. Its description is assembled with <<:
   *
   *   vexaThrow() << "Spacing must be positive, got " << spacing;
   */
  class VEXACORE_EXPORT Exception : public itk::ExceptionObject
  {
  public:
    Exception(const char *file, unsigned int lineNumber = 0, const char *desc = "None", const char *loc = "Unknown")
      : itk::ExceptionObject(file, lineNumber, desc, loc)
    {
    }
    Exception(const std::string &file, unsigned int lineNumber, const std::string &desc, const std::string &loc)
      : itk::ExceptionObject(file, lineNumber, desc, loc)
    {
    }
    ~Exception() noexcept override;

    const char *GetNameOfClass() const override { return "Exception"; }

    /** Appends the value's text to the description. */
    template <class T>
    Exception &operator<<(const T &data)
    {
      std::stringstream ss;
      ss << this->GetDescription() << data;
      this->SetDescription(ss.str());
      return *this;
    }
  };
}

/** Starts a throw statement of a vexa::Exception: vexaThrow() << "text" << value; */
#define vexaThrow() throw ::vexa::Exception(__FILE__, __LINE__, "", "unknown")

/**
 * Declares the members of a subclass of vexa::Exception: its constructors and
 * an operator<< that keeps the subclass's type, so that vexaThrowException
 * throws the subclass and not a sliced vexa::Exception.
 */
#define vexaExceptionClassMacro(ClassName, SuperClassName)                                                             \
  ClassName(const char *file, unsigned int lineNumber = 0, const char *desc = "None", const char *loc = "Unknown")     \
    : SuperClassName(file, lineNumber, desc, loc)                                                                      \
  {                                                                                                                    \
  }                                                                                                                    \
  const char *GetNameOfClass() const override { return #ClassName; }                                                   \
  template <class T>                                                                                                   \
  ClassName &operator<<(const T &data)                                                                                 \
  {                                                                                                                    \
    SuperClassName::operator<<(data);                                                                                  \
    return *this;                                                                                                      \
  }

/** A throw statement of a subclass declared with vexaExceptionClassMacro. */
#define vexaThrowException(classname) throw classname(__FILE__, __LINE__, "", "unknown")

#endif
