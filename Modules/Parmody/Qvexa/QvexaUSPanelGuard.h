#ifndef QvexaUSPanelGuard_h
#define QvexaUSPanelGuard_h

// Private to the Parmody panels: the edge of a slot that talks to a device.

#include <vexaException.h>
#include <vexaLog.h>

#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <exception>

namespace vexa
{
  namespace parmody
  {
    /** The user's text of an exception: a vexa::Exception's description, not its source location. */
    inline QString UserText(const std::exception &e)
    {
      if (const auto *ve = dynamic_cast<const vexa::Exception *>(&e))
        return QString::fromStdString(ve->GetDescription());
      return QString::fromLocal8Bit(e.what());
    }

    /**
     * Runs `action` (which asks the device to do `what`, e.g. "select the
     * probe") so that no exception leaves the slot: a failure is logged and
     * told to the user in a warning box titled `title` over `panel`. True when
     * the action returned normally. GUI thread.
     */
    template <class F>
    bool RunAtSlotEdge(QWidget *panel, const QString &title, const QString &what, F &&action)
    {
      QString problem;
      try
      {
        action();
        return true;
      }
      catch (const std::exception &e)
      {
        problem = UserText(e);
      }
      catch (...)
      {
        problem = "unknown error";
      }
      const QString text = QString("Could not %1: %2").arg(what, problem);
      VEXA_ERROR << text.toStdString();
      try
      {
        QMessageBox::warning(panel, title, text);
      }
      catch (...)
      {
        // the record above is the report then
      }
      return false;
    }
  }
}

#endif
