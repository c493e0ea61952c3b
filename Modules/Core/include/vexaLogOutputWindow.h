#ifndef vexaLogOutputWindow_h
#define vexaLogOutputWindow_h

// ITK's output window as a writer into the one log sink (vorlen). ITK writes
// its warnings (itkWarningMacro), debug texts and the texts handed to
// itk::OutputWindowDisplay*Text to the process-wide output window, which
// prints them to standard error beside the log. A program, the workbench and
// the test programs install this window first thing in main, so that those
// texts become log records: one line each, in the log's format, wherever the
// application sends its log.
//
// Libraries never install it: the application that loads them owns the
// output window (and may have one of its own).

#include <vorlenLogSink.h>

#include <itkObjectFactory.h>
#include <itkOutputWindow.h>

#include <cstdlib>
#include <string>
#include <thread>

namespace vexa
{
  /**
   * Turns each text ITK displays into one log record with the category "ITK":
   * error texts at the error level, warnings and ITK's generic output at the
   * warning level, debug and plain texts at the information level. The file
   * and line that ITK's macros put into their first line ("WARNING: In <file>,
   * line <n>") become the record's position, the class of an object's text
   * ("<class> (<address>): ...") its function; the text is the rest as ITK
   * wrote it, without the trailing blank lines.
   *
   * ITK calls the window on whichever thread warns; the window keeps no state
   * and the sink is thread-safe.
   */
  class LogOutputWindow : public itk::OutputWindow
  {
  public:
    typedef LogOutputWindow Self;
    typedef itk::OutputWindow Superclass;
    typedef itk::SmartPointer<Self> Pointer;
    typedef itk::SmartPointer<const Self> ConstPointer;
    itkFactorylessNewMacro(Self);
    itkTypeMacro(LogOutputWindow, itk::OutputWindow);

    /**
     * Makes a new LogOutputWindow ITK's output window for the whole process.
     * Call it at the start of main, before any thread runs: ITK's instance
     * pointer is not guarded.
     */
    static void Install() { itk::OutputWindow::SetInstance(Self::New()); }

    /** The record that a text ITK displays at the level (0 information, 1 warning, 2 error) becomes. */
    static vorlen::LogRecord ToRecord(int level, const char *text)
    {
      vorlen::LogRecord record;
      record.level = level;
      record.categories = {"ITK"};
      record.function = "itk::OutputWindow";
      record.thread = std::this_thread::get_id();
      std::string body = text ? text : "";

      // "<KIND>: In <file>, line <n>" on a line of its own
      const std::string::size_type end = body.find('\n');
      const std::string::size_type in = body.find(": In ");
      if (end != std::string::npos && in != std::string::npos && in < end)
      {
        const std::string place = body.substr(in + 5, end - in - 5);
        const std::string::size_type comma = place.rfind(", line ");
        if (comma != std::string::npos)
        {
          char *last = nullptr;
          const long line = std::strtol(place.c_str() + comma + 7, &last, 10);
          if (last && *last == '\0' && last != place.c_str() + comma + 7)
          {
            record.file = place.substr(0, comma);
            record.line = static_cast<int>(line);
            body.erase(0, end + 1);
          }
        }
      }

      // "<class> (<address>): <message>", as ITK's object macros write it
      const std::string::size_type open = body.find(" (");
      const std::string::size_type close = body.find("): ");
      if (open != std::string::npos && close != std::string::npos && open < close && open > 0 &&
          body.find_first_of(" \n") == open)
        record.function = body.substr(0, open);

      while (!body.empty() && (body.back() == '\n' || body.back() == '\r'))
        body.pop_back();
      record.text = body;
      return record;
    }

    void DisplayText(const char *text) override { Forward(0, text); }
    void DisplayErrorText(const char *text) override { Forward(2, text); }
    void DisplayWarningText(const char *text) override { Forward(1, text); }
    void DisplayGenericOutputText(const char *text) override { Forward(1, text); }
    void DisplayDebugText(const char *text) override { Forward(0, text); }

  protected:
    LogOutputWindow() = default;
    ~LogOutputWindow() override = default;

  private:
    // ITK warns from destructors too: nothing may leave the window
    static void Forward(int level, const char *text) noexcept
    {
      try
      {
        vorlen::Dispatch(ToRecord(level, text));
      }
      catch (...)
      {
      }
    }
  };
}

#endif
