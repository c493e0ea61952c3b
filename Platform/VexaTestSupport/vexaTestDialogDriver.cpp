#include "vexaTestDialogDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QWidget>

namespace vexa
{
  namespace test
  {
    namespace
    {
      // marks a dialog as dealt with (it may stay visible while it closes)
      const char *const HandledProperty = "vexaTestDialogDriverHandled";
    }

    namespace
    {
      // As a user pressing Escape (the box's escape button answers); a box without one is ended with Cancel.
      void Dismiss(QMessageBox *box)
      {
        QPointer<QMessageBox> guard(box);
        QTest::keyClick(box, Qt::Key_Escape);
        if (guard && guard->isVisible())
          guard->done(QMessageBox::Cancel);
      }
    }

    DialogDriver::DialogDriver(QObject *parent) : QObject(parent)
    {
      qApp->installEventFilter(this);
      // a fallback for dialogs shown before the driver existed
      m_Timer.setInterval(10);
      connect(&m_Timer, &QTimer::timeout, this, &DialogDriver::Poll);
      m_Timer.start();
    }

    DialogDriver::~DialogDriver()
    {
      if (qApp)
        qApp->removeEventFilter(this);
    }

    void DialogDriver::AnswerMessageBox(QMessageBox::StandardButton button) { m_MessageBoxAnswers.push_back(button); }

    void DialogDriver::AnswerFileDialog(const QStringList &paths) { m_FileDialogAnswers.push_back(paths); }

    bool DialogDriver::eventFilter(QObject *watched, QEvent *event)
    {
      // The receiver first: events posted from worker threads to non-widgets (the
      // event bridge's calls) are then never read here.
      if (watched->isWidgetType() && event->type() == QEvent::Show)
        Take(static_cast<QWidget *>(watched));
      return QObject::eventFilter(watched, event);
    }

    void DialogDriver::Poll()
    {
      // dialogs that were open before the driver came
      for (QWidget *window : QApplication::topLevelWidgets())
        if (window->isVisible())
          Take(window);
    }

    void DialogDriver::Take(QWidget *window)
    {
      auto *box = qobject_cast<QMessageBox *>(window);
      auto *dialog = qobject_cast<QFileDialog *>(window);
      if ((!box && !dialog) || !window->isWindow() || window->property(HandledProperty).toBool())
        return;
      window->setProperty(HandledProperty, true);
      // Answered from a queued call, in the order the dialogs were shown, not from
      // inside the show: answering may open a dialog of its own (the overwrite question
      // of a save dialog), whose exec() must be able to run.
      QPointer<QWidget> guard(window);
      QMetaObject::invokeMethod(
        this,
        [this, guard, box, dialog] {
          if (!guard)
            return;
          if (box)
            Handle(box);
          else
            Handle(dialog);
        },
        Qt::QueuedConnection);
    }

    void DialogDriver::Handle(QMessageBox *box)
    {
      Shown shown;
      shown.kind = Shown::MessageBox;
      shown.title = box->windowTitle();
      shown.text = box->text();
      shown.informativeText = box->informativeText();
      shown.icon = box->icon();
      shown.unexpected = m_MessageBoxAnswers.empty();
      const std::size_t index = m_Shown.size();
      m_Shown.push_back(shown);
      if (shown.unexpected)
        Dismiss(box);
      else
      {
        const QMessageBox::StandardButton answer = m_MessageBoxAnswers.front();
        m_MessageBoxAnswers.pop_front();
        if (QAbstractButton *button = box->button(answer))
          button->click();
        else
        {
          m_Shown[index].problem = QStringLiteral("the message box has no button %1").arg(static_cast<int>(answer));
          Dismiss(box);
        }
      }
    }

    void DialogDriver::Handle(QFileDialog *dialog)
    {
      Shown shown;
      shown.kind = Shown::FileDialog;
      shown.title = dialog->windowTitle();
      shown.text = dialog->directory().absolutePath();
      shown.unexpected = m_FileDialogAnswers.empty();
      // recorded before answering: accepting may ask a question of its own first
      const std::size_t index = m_Shown.size();
      m_Shown.push_back(shown);
      if (shown.unexpected)
      {
        dialog->reject();
      }
      else
      {
        const QStringList answer = m_FileDialogAnswers.front();
        m_FileDialogAnswers.pop_front();
        if (answer.isEmpty())
          dialog->reject();
        else
        {
          // typed into the name field, as a user would: accept() then checks it as for a user
          // (an existing file for opening, an overwrite question for saving)
          QStringList quoted;
          for (const QString &path : answer)
            quoted << (answer.size() > 1 ? QLatin1Char('"') + path + QLatin1Char('"') : path);
          if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            name->setText(quoted.join(QLatin1Char(' ')));
          else
            dialog->selectFile(answer.front());
          QPointer<QFileDialog> guard(dialog);
          QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection); // a slot, protected in QFileDialog
          if (guard && guard->isVisible())
          {
            // accept() refused the answer (a file that does not exist, say): give up on this dialog
            m_Shown[index].problem =
              QStringLiteral("the file dialog did not accept \"%1\"").arg(answer.join(QLatin1String("\", \"")));
            guard->reject();
          }
        }
      }
    }
  }
}
