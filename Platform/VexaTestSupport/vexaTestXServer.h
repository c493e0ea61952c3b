#ifndef vexaTestXServer_h
#define vexaTestXServer_h

#include "vexaTestChildProcess.h"

#include <QRect>
#include <QString>

#include <memory>
#include <string>

class QImage;

namespace vexa
{
  namespace test
  {
    /**
     * An X server of the test's own (Xvfb, a 24-bit screen of 1280x1024
     * unless the test asks for another size, no TCP), on the first free
     * display: the server names it through -displayfd once it accepts
     * clients, so no test guesses a display number or races another test for
     * one. The server ends with the object.
     */
    class XServer
    {
    public:
      explicit XServer(int width = 1280, int height = 1024) : m_Width(width), m_Height(height) {}
      XServer(const XServer &) = delete;
      XServer &operator=(const XServer &) = delete;
      ~XServer();

      /** False with the reason in *error when Xvfb is missing or names no display within 10 s. */
      bool Start(std::string *error);

      /**
       * Start() for a child program that draws on the server, and false with
       * the reason in *error in the sanitizer builds too: there the X and
       * D-Bus client libraries keep allocations that the sanitizers report in
       * the child. A test skips with that reason.
       */
      bool StartForChildProgram(std::string *error);

      /** ":N" once started. */
      const std::string &Display() const { return m_Display; }

      /** The environment a child program needs to draw on this server through Qt. */
      std::vector<std::string> ClientEnvironment() const;

    private:
      std::unique_ptr<ChildProcess> m_Process;
      std::string m_Display;
      int m_Width;
      int m_Height;
    };

    /**
     * The rectangle a screenshot names in its text `key`, written
     * "x,y,width,height" (as the workbench names its render window's place in
     * "RenderWindowRegion"); a null rectangle when the key is missing or is
     * not four numbers.
     */
    QRect ScreenshotRegion(const QImage &picture, const QString &key);
  }
}

#endif
