#ifndef vexaIGTLLog_h
#define vexaIGTLLog_h

// Log records of OpenIGTLink objects. OpenIGTLink's own stream operator for its
// smart pointer dereferences without a test, so logging a null pointer would
// crash; here a record gets the object's print, or "(null)".
//
//   VEXA_INFO << "Connected to a new client: " << socket;

#include <vexaLog.h>

#include <igtlSmartPointer.h>

#include <ostream>

namespace vorlen
{
  template <class T>
  struct LogValueWriter<igtl::SmartPointer<T>>
  {
    static void Write(std::ostream &os, const igtl::SmartPointer<T> &pointer)
    {
      if (pointer.IsNull())
        os << "(null)";
      else
        pointer->Print(os);
    }
  };
}

#endif
