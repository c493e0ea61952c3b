#ifndef usTestInterfaces_h
#define usTestInterfaces_h

// Service interfaces shared by the registry's tests and their test modules.

#include <usServiceInterface.h>

#include <string>

struct usTestService
{
  virtual ~usTestService() {}
  virtual std::string Origin() const = 0;
};
US_DECLARE_SERVICE_INTERFACE(usTestService, "org.vexa.test.Service")

namespace vexaTest
{
  /** Declares no interface id: registered under its demangled class name. */
  struct UndeclaredService
  {
    virtual ~UndeclaredService() {}
    int value = 0;
  };
}

/** A service object that reports where it was made. */
class usTestServiceImpl : public usTestService
{
public:
  explicit usTestServiceImpl(std::string origin) : m_Origin(std::move(origin)) {}
  std::string Origin() const override { return m_Origin; }

private:
  std::string m_Origin;
};

#endif
