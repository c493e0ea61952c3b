#ifndef vexaFunctionCommand_h
#define vexaFunctionCommand_h

#include <itkCommand.h>
#include <itkEventObject.h>
#include <itkObject.h>

#include <functional>
#include <utility>

namespace vexa
{
  /**
   * An itk::Command that calls a function object: for any place that needs a
   * command (an observer, a call posted to the GUI thread) without a class of
   * its own.
   *
   *   object->AddObserver(itk::ModifiedEvent(), vexa::FunctionCommand::New(
   *     [this](itk::Object *caller, const itk::EventObject &event) { ... }));
   *
   * Both Execute overloads call the function; a const caller is passed on as
   * a non-const pointer, as ITK itself does for the observers of const
   * objects. The command adds no locking: the function runs on whatever
   * thread executes the command, and an exception it throws reaches whoever
   * executes it. An empty function makes a command that does nothing.
   *
   * New() bypasses ITK's object factory, whose first use is not thread-safe,
   * so commands may be made on any thread at any time.
   */
  class FunctionCommand : public itk::Command
  {
  public:
    typedef FunctionCommand Self;
    typedef itk::Command Superclass;
    typedef itk::SmartPointer<Self> Pointer;
    typedef itk::SmartPointer<const Self> ConstPointer;
    typedef std::function<void(itk::Object *, const itk::EventObject &)> Function;

    itkTypeMacro(FunctionCommand, itk::Command);

    static Pointer New(Function function)
    {
      Pointer command = new Self(std::move(function));
      command->UnRegister();
      return command;
    }

    void Execute(itk::Object *caller, const itk::EventObject &event) override
    {
      if (m_Function)
        m_Function(caller, event);
    }

    void Execute(const itk::Object *caller, const itk::EventObject &event) override
    {
      if (m_Function)
        m_Function(const_cast<itk::Object *>(caller), event);
    }

  protected:
    explicit FunctionCommand(Function function) : m_Function(std::move(function)) {}

  private:
    const Function m_Function;
  };
}

#endif
