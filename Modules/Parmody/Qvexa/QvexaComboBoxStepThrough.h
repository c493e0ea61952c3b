#ifndef QvexaComboBoxStepThrough_h
#define QvexaComboBoxStepThrough_h

#include "ParmodyExports.h"

#include <QComboBox>

/**
 * A combo box that arrow buttons step through: OnSetPreviousIndex and
 * OnSetNextIndex move one entry (nothing at the ends), and the two signals
 * tell when the current entry arrives at or leaves the first or the last
 * entry, so that the buttons can be disabled there.
 *
 * The signals report changes only: a combo that starts at its first entry
 * does not report being at the beginning until it has left it and come back.
 * Fill it through this class's addItem (it hides QComboBox's), so that a
 * growing list is reported too.
 */
class PARMODY_EXPORT QvexaComboBoxStepThrough : public QComboBox
{
  Q_OBJECT

public:
  explicit QvexaComboBoxStepThrough(QWidget *parent = nullptr);
  ~QvexaComboBoxStepThrough() override;

  /** Appends an entry (no icon) and reports what that changes at the ends. */
  void addItem(const QString &text, const QVariant &userData = QVariant());

signals:
  void SignalReachedEnd(bool reached);
  void SignalReachedBegin(bool reached);

public slots:
  void OnSetPreviousIndex();
  void OnSetNextIndex();

private slots:
  void OnCurrentIndexChanged(int index);

private:
  int m_LastMaxIndex;
  int m_LastIndex;
};

#endif
