#include "QvexaComboBoxStepThrough.h"

QvexaComboBoxStepThrough::QvexaComboBoxStepThrough(QWidget *parent)
  : QComboBox(parent), m_LastMaxIndex(0), m_LastIndex(0)
{
  connect(this, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
          &QvexaComboBoxStepThrough::OnCurrentIndexChanged);
}

QvexaComboBoxStepThrough::~QvexaComboBoxStepThrough() = default;

void QvexaComboBoxStepThrough::addItem(const QString &text, const QVariant &userData)
{
  insertItem(count(), QIcon(), text, userData);
  OnCurrentIndexChanged(currentIndex());
}

void QvexaComboBoxStepThrough::OnSetPreviousIndex()
{
  const int index = currentIndex();
  if (index > 0)
    setCurrentIndex(index - 1);
}

void QvexaComboBoxStepThrough::OnSetNextIndex()
{
  const int index = currentIndex();
  if (index < count() - 1)
    setCurrentIndex(index + 1);
}

void QvexaComboBoxStepThrough::OnCurrentIndexChanged(int index)
{
  const int last = m_LastIndex;
  const int top = count() - 1;

  if (last == 0 && index > 0)
    emit SignalReachedBegin(false);
  else if (last > 0 && index == 0)
    emit SignalReachedBegin(true);

  if ((last == top || last == m_LastMaxIndex) && index < top)
    emit SignalReachedEnd(false);
  else if (last < top && index == top)
    emit SignalReachedEnd(true);

  m_LastIndex = index;
  m_LastMaxIndex = top;
}
