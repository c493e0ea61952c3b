#ifndef vexaEventMacro_h
#define vexaEventMacro_h

#include <itkEventObject.h>

/**
 * A data-free event class on a base event class. Observers registered with an
 * event receive it and every event derived from it; names play no part in
 * matching.
 */
#define vexaEventMacro(classname, super)                                                                               \
  class classname : public super                                                                                       \
  {                                                                                                                    \
  public:                                                                                                              \
    typedef classname Self;                                                                                            \
    typedef super Superclass;                                                                                          \
    classname() {}                                                                                                     \
    classname(const Self &s) : super(s) {}                                                                             \
    ~classname() override {}                                                                                           \
    const char *GetEventName() const override { return #classname; }                                                   \
    bool CheckEvent(const ::itk::EventObject *e) const override                                                        \
    {                                                                                                                  \
      return e != nullptr && dynamic_cast<const Self *>(e) != nullptr;                                                 \
    }                                                                                                                  \
    ::itk::EventObject *MakeObject() const override { return new Self; }                                               \
                                                                                                                       \
  private:                                                                                                             \
    void operator=(const Self &);                                                                                      \
  };

#endif
