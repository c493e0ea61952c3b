#ifndef vexaTestItkOutput_h
#define vexaTestItkOutput_h

#include <itkMacro.h>
#include <itkObject.h>
#include <itkObjectFactory.h>
#include <itkOutputWindow.h>

#include <mutex>
#include <string>

namespace vexa
{
  namespace test
  {
    /** An ITK object that warns the way ITK's own classes do (itkWarningMacro). */
    class WarningItkObject : public itk::Object
    {
    public:
      typedef WarningItkObject Self;
      typedef itk::SmartPointer<Self> Pointer;
      itkNewMacro(Self);
      itkTypeMacro(WarningItkObject, itk::Object);

      /** Warns with the text; the line of the warning in this file. */
      int Warn(const std::string &text)
      {
        const int line = __LINE__ + 1;
        itkWarningMacro(<< text);
        return line;
      }

    protected:
      WarningItkObject() = default;
    };

    /**
     * Collects the texts ITK hands to its output window, exactly as ITK
     * composed them, while the object lives, with ITK's warnings turned on;
     * the window the program had (the test main's, which writes into the log)
     * and the warning setting come back when it goes. ITK's window is one per
     * process: one capture at a time, made and ended on the test's thread (ITK
     * may display from its own threads meanwhile).
     */
    class CapturedItkOutput
    {
    public:
      CapturedItkOutput()
        : m_Window(Window::New()), m_Previous(itk::OutputWindow::GetInstance()),
          m_WarningDisplay(itk::Object::GetGlobalWarningDisplay())
      {
        itk::OutputWindow::SetInstance(m_Window);
        itk::Object::SetGlobalWarningDisplay(true);
      }
      ~CapturedItkOutput()
      {
        itk::Object::SetGlobalWarningDisplay(m_WarningDisplay);
        itk::OutputWindow::SetInstance(m_Previous);
      }
      CapturedItkOutput(const CapturedItkOutput &) = delete;
      CapturedItkOutput &operator=(const CapturedItkOutput &) = delete;

      /** Everything displayed so far, one text after the other. */
      std::string Text() const { return m_Window->Text(); }

    private:
      class Window : public itk::OutputWindow
      {
      public:
        typedef Window Self;
        typedef itk::SmartPointer<Self> Pointer;
        itkFactorylessNewMacro(Self);

        void DisplayText(const char *text) override
        {
          std::lock_guard<std::mutex> lock(m_Mutex);
          m_Text += text ? text : "";
        }
        std::string Text() const
        {
          std::lock_guard<std::mutex> lock(m_Mutex);
          return m_Text;
        }

      private:
        mutable std::mutex m_Mutex;
        std::string m_Text;
      };

      Window::Pointer m_Window;
      itk::OutputWindow::Pointer m_Previous;
      bool m_WarningDisplay;
    };
  }
}

#endif
