#ifndef QvexaUSPanelWarning_h
#define QvexaUSPanelWarning_h

// Private to the Parmody panels: how a panel tells the user that what it
// asked of a device failed. Each slot hands its body to vexa::RunGuarded
// with one of these reporters, so no exception leaves it.

#include <vexaLog.h>
#include <vexaSlotGuard.h>

#include <QMessageBox>
#include <QString>
#include <QWidget>

namespace vexa
{
  namespace parmody
  {
    /** Which text of the exception the user reads. */
    enum class ProblemText
    {
      /** A vexa::Exception's description (no source position), any other's what(). */
      Description,
      /** The exception's what(), as it is. */
      What
    };

    /**
     * A reporter for vexa::RunGuarded: writes "Could not <what>: <problem>" as
     * an error record and shows the same text in a warning box titled
     * `title` over `panel`. The problem is "unknown error" for an exception
     * that is no std::exception. GUI thread; the box is modal, so the slot
     * returns once the user closed it.
     */
    class WarningBox
    {
    public:
      WarningBox(QWidget *panel, QString title, QString what, ProblemText problem = ProblemText::Description)
        : m_Panel(panel), m_Title(std::move(title)), m_What(std::move(what)), m_Problem(problem)
      {
      }

      void operator()(const GuardedFailure &failure) const
      {
        const QString text = QString("Could not %1: %2").arg(m_What, Problem(failure));
        VEXA_ERROR << text.toStdString();
        QMessageBox::warning(m_Panel, m_Title, text);
      }

    private:
      QString Problem(const GuardedFailure &failure) const
      {
        if (!failure.standard)
          return "unknown error";
        if (m_Problem == ProblemText::What)
          return QString::fromUtf8(failure.what.c_str());
        // a description is ours (UTF-8); another library's what() is in the locale's encoding
        return failure.vexaException ? QString::fromStdString(failure.description)
                                     : QString::fromLocal8Bit(failure.what.c_str());
      }

      QWidget *m_Panel;
      QString m_Title;
      QString m_What;
      ProblemText m_Problem;
    };
  }
}

#endif
