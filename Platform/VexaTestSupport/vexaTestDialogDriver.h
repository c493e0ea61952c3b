#ifndef vexaTestDialogDriver_h
#define vexaTestDialogDriver_h

#include <QFileDialog>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <vector>

namespace vexa
{
  namespace test
  {
    /**
     * Answers the real message boxes and file dialogs that the code under test
     * opens, so that a slot which asks the user runs offscreen, and records
     * what was shown.
     *
     *   vexa::test::DialogDriver dialogs;
     *   dialogs.AnswerMessageBox(QMessageBox::Yes);
     *   dialogs.AnswerFileDialog(folder.File("out.nrrd"));
     *   widget.OnSaveClicked();               // opens a question, then a save dialog
     *   EXPECT_EQ(dialogs.Shown().at(0).text, "Overwrite?");
     *
     * While the driver lives it watches the application for QMessageBox and
     * QFileDialog windows being shown and, in the order they appear, applies
     * the oldest queued answer of that kind from the event loop (the nested
     * loop of exec() runs it). A
     * dialog for which no answer is queued is recorded as unexpected and
     * closed (a message box with its escape button or rejected, a file dialog
     * cancelled), so a test never hangs on it. File dialogs must be Qt's own
     * widgets, not native ones: QtApplication turns native dialogs off.
     *
     * GUI thread only.
     */
    class DialogDriver : public QObject
    {
      Q_OBJECT
    public:
      struct Shown
      {
        enum Kind
        {
          MessageBox,
          FileDialog
        };
        Kind kind = MessageBox;
        QString title;
        QString text;            // a message box's text; a file dialog's folder
        QString informativeText; // message boxes only
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool unexpected = false; // no answer was queued: closed without one
        QString problem;         // why the queued answer could not be given, empty when it was
      };

      explicit DialogDriver(QObject *parent = nullptr);
      ~DialogDriver() override;

      /** The next message box is answered with this button. */
      void AnswerMessageBox(QMessageBox::StandardButton button);
      /** The next file dialog chooses these files (or folder); an empty list cancels it. */
      void AnswerFileDialog(const QStringList &paths);
      void AnswerFileDialog(const QString &path) { AnswerFileDialog(QStringList{path}); }
      void CancelFileDialog() { AnswerFileDialog(QStringList()); }

      /** Every dialog seen so far, in order. */
      const std::vector<Shown> &ShownDialogs() const { return m_Shown; }
      /** Answers still queued (none once every expected dialog came). */
      int PendingAnswers() const { return static_cast<int>(m_MessageBoxAnswers.size() + m_FileDialogAnswers.size()); }

    protected:
      bool eventFilter(QObject *watched, QEvent *event) override;

    private:
      void Poll();
      void Take(QWidget *window);
      void Handle(QMessageBox *box);
      void Handle(QFileDialog *dialog);

      QTimer m_Timer;
      std::deque<QMessageBox::StandardButton> m_MessageBoxAnswers;
      std::deque<QStringList> m_FileDialogAnswers;
      std::vector<Shown> m_Shown;
    };
  }
}

#endif
