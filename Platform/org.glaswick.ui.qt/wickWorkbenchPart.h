#ifndef wickWorkbenchPart_h
#define wickWorkbenchPart_h

#include "org_glaswick_ui_qtExports.h"

#include <wickObject.h>

#include <QString>

class QWidget;

namespace wick
{
  /** A part of the workbench window: it builds its contents on a parent widget and takes the focus. */
  class ORG_GLASWICK_UI_QT_EXPORT WorkbenchPart : public virtual Object
  {
  public:
    ~WorkbenchPart() override;

    /** Builds the part's contents on `parent` (the workbench calls it once, on the GUI thread). */
    virtual void CreatePartControl(QWidget *parent) = 0;
    /** The part became the active one. */
    virtual void SetFocus() = 0;

    QString GetPartName() const { return m_PartName; }
    void SetPartName(const QString &name) { m_PartName = name; }

  protected:
    WorkbenchPart();

  private:
    QString m_PartName;
  };

  /** A workbench part shown as a view: it has the id it was declared with. */
  class ORG_GLASWICK_UI_QT_EXPORT ViewPart : public WorkbenchPart
  {
  public:
    ~ViewPart() override;

    /** The id of the view declaration it was made for ("org.vexa.views.ultrasoundsupport"). */
    QString GetViewId() const { return m_ViewId; }
    /** The workbench's, before CreatePartControl. */
    void SetViewId(const QString &id) { m_ViewId = id; }

  protected:
    ViewPart();

  private:
    QString m_ViewId;
  };
}

#endif
