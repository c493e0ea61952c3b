#include "QvexaUSControlsCustomVideoDeviceWidget.h"

#include "QvexaUSPanelWarning.h"
#include "ui_QvexaUSControlsCustomVideoDeviceWidget.h"

#include <vexaException.h>
#include <vexaLog.h>
#include <vexaUSVideoDevice.h>

#include <QMessageBox>
#include <QSignalBlocker>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <vector>

namespace
{
  const QString kTitle = "Video Device Controls";
}

QvexaUSControlsCustomVideoDeviceWidget::QvexaUSControlsCustomVideoDeviceWidget()
  : QvexaUSControlsCustomVideoDeviceWidget(nullptr)
{
}

QvexaUSControlsCustomVideoDeviceWidget::QvexaUSControlsCustomVideoDeviceWidget(QWidget *parent)
  : QvexaUSAbstractCustomWidget(parent), m_Controls(new Ui::QvexaUSControlsCustomVideoDeviceWidget)
{
}

QvexaUSControlsCustomVideoDeviceWidget::~QvexaUSControlsCustomVideoDeviceWidget() { delete m_Controls; }

std::string QvexaUSControlsCustomVideoDeviceWidget::GetDeviceClass() const
{
  return vexa::USVideoDevice::GetDeviceClassStatic();
}

QvexaUSAbstractCustomWidget *QvexaUSControlsCustomVideoDeviceWidget::Clone(QWidget *parent) const
{
  auto *copy = new QvexaUSControlsCustomVideoDeviceWidget(parent);
  copy->SetDevice(this->GetDevice());
  return copy;
}

void QvexaUSControlsCustomVideoDeviceWidget::Initialize()
{
  if (m_FormBuilt)
    return;
  m_Controls->setupUi(this);
  m_FormBuilt = true;

  for (QSpinBox *box : {m_Controls->crop_left, m_Controls->crop_right, m_Controls->crop_top, m_Controls->crop_bot})
    connect(box, SIGNAL(valueChanged(int)), this, SLOT(OnCropAreaChanged()));
  // Made once here, not per device: a second device must not double them.
  connect(m_Controls->m_UsDepth, SIGNAL(currentTextChanged(const QString &)), this, SLOT(OnDepthChanged()));
  connect(m_Controls->m_ProbeIdentifier, SIGNAL(currentTextChanged(const QString &)), this, SLOT(OnProbeChanged()));

  EnableCropBoxes(false);
  if (this->GetDevice().IsNotNull())
    OnDeviceSet();
}

void QvexaUSControlsCustomVideoDeviceWidget::OnDeviceSet()
{
  vexa::RunGuarded(
    [this] {
      m_CropArea = Cropping();
      m_ControlInterface = nullptr;
      if (vexa::USDevice::Pointer device = this->GetDevice())
        m_ControlInterface =
          dynamic_cast<vexa::USVideoDeviceCustomControls *>(device->GetCustomControlInterface().GetPointer());
      if (!m_FormBuilt)
        return; // Initialize fills the form

      {
        const QSignalBlocker probesBlocked(m_Controls->m_ProbeIdentifier);
        const QSignalBlocker depthsBlocked(m_Controls->m_UsDepth);
        m_Controls->m_ProbeIdentifier->clear();
        m_Controls->m_UsDepth->clear();
      }
      EnableCropBoxes(false);

      if (m_ControlInterface.IsNull())
      {
        const char *const text = "Did not get a custom video device control interface.";
        VEXA_WARN("QvexaUSAbstractCustomWidget")("QvexaUSControlsCustomVideoDeviceWidget") << text;
        ShowCrop(Cropping());
        return;
      }

      {
        const QSignalBlocker probesBlocked(m_Controls->m_ProbeIdentifier);
        for (const vexa::USProbe::Pointer &probe : m_ControlInterface->GetProbes())
          m_Controls->m_ProbeIdentifier->addItem(
            QIcon(), QString::fromUtf8(probe.IsNotNull() ? probe->GetName().c_str() : ""), QVariant());
      }
      m_ControlInterface->SetDefaultProbeAsCurrentProbe();
      FillDepths(m_Controls->m_ProbeIdentifier->currentText().toStdString());
      SendShownDepth();
      ApplyCrop(DeviceCrop());
      EnableCropBoxes(true);
    },
    vexa::parmody::WarningBox(this, kTitle, "set up the video device's controls"));
}

void QvexaUSControlsCustomVideoDeviceWidget::OnCropAreaChanged()
{
  if (m_ControlInterface.IsNull() || !m_FormBuilt)
    return;
  vexa::RunGuarded([this] { ApplyCrop(CropOfTheBoxes()); },
                   vexa::parmody::WarningBox(this, kTitle, "crop the ultrasound image"));
}

void QvexaUSControlsCustomVideoDeviceWidget::OnDepthChanged()
{
  if (m_ControlInterface.IsNull() || !m_FormBuilt)
    return;
  bool isNumber = false;
  const double depth = m_Controls->m_UsDepth->currentText().toDouble(&isNumber); // C locale
  if (!isNumber)
    return; // an emptied list is no depth 0
  VEXA_INFO << "OnDepthChanged() " << depth;
  vexa::RunGuarded([&] { m_ControlInterface->SetNewDepth(depth); },
                   vexa::parmody::WarningBox(this, kTitle, "set the ultrasound depth"));
}

void QvexaUSControlsCustomVideoDeviceWidget::OnProbeChanged()
{
  if (m_ControlInterface.IsNull() || !m_FormBuilt)
    return;
  const std::string identifier = m_Controls->m_ProbeIdentifier->currentText().toStdString();
  if (m_Controls->m_ProbeIdentifier->currentIndex() < 0)
    return;
  vexa::RunGuarded(
    [&] {
      m_ControlInterface->SetNewProbeIdentifier(identifier);
      FillDepths(identifier);
      SendShownDepth();
      ApplyCrop(DeviceCrop());
    },
    vexa::parmody::WarningBox(this, kTitle, "change the probe"));
}

void QvexaUSControlsCustomVideoDeviceWidget::FillDepths(const std::string &probe)
{
  const QSignalBlocker blocked(m_Controls->m_UsDepth);
  m_Controls->m_UsDepth->clear();
  for (int depth : m_ControlInterface->GetDepthsForProbe(probe))
    m_Controls->m_UsDepth->addItem(QIcon(), QString::number(depth), QVariant());
}

void QvexaUSControlsCustomVideoDeviceWidget::SendShownDepth()
{
  if (m_Controls->m_UsDepth->count() > 0)
    OnDepthChanged();
}

void QvexaUSControlsCustomVideoDeviceWidget::ApplyCrop(const Cropping &crop)
{
  ShowCrop(crop);
  try
  {
    m_ControlInterface->SetCropArea(crop);
    m_ControlInterface->UpdateProbeCropping(crop);
    m_CropArea = crop;
    return;
  }
  catch (const vexa::Exception &e)
  {
    VEXA_INFO << "The device refused the crop area: " << e.GetDescription();
  }

  try
  {
    m_ControlInterface->SetCropArea(m_CropArea);
    m_ControlInterface->UpdateProbeCropping(m_CropArea);
  }
  catch (const std::exception &e)
  {
    VEXA_ERROR << "Could not restore the last valid crop area: " << vexa::UserText(e);
  }
  ShowCrop(m_CropArea);

  QMessageBox msgBox;
  msgBox.setStandardButtons(QMessageBox::Ok);
  msgBox.setInformativeText("The crop area you specified is invalid.\nPlease make sure that no more pixels are "
                            "cropped than are available.");
  msgBox.exec();
  VEXA_WARN << "User tried to crop beyond limits of the image";
}

void QvexaUSControlsCustomVideoDeviceWidget::ShowCrop(const Cropping &crop)
{
  const QSignalBlocker left(m_Controls->crop_left), right(m_Controls->crop_right), top(m_Controls->crop_top),
    bottom(m_Controls->crop_bot);
  // a value beyond a box's maximum shows as the maximum; the device keeps the real one
  auto show = [](QSpinBox *box, std::uint32_t value) {
    box->setValue(static_cast<int>(std::min<std::uint32_t>(value, static_cast<std::uint32_t>(box->maximum()))));
  };
  show(m_Controls->crop_left, crop.left);
  show(m_Controls->crop_right, crop.right);
  show(m_Controls->crop_bot, crop.bottom);
  show(m_Controls->crop_top, crop.top);
}

QvexaUSControlsCustomVideoDeviceWidget::Cropping QvexaUSControlsCustomVideoDeviceWidget::CropOfTheBoxes() const
{
  // A box at its maximum whose side was cropped further stands for the device's value:
  // moving another box must not shrink that side to what the box can show.
  auto side = [](const QSpinBox *box, std::uint32_t accepted) -> std::uint32_t {
    const auto shown = static_cast<std::uint32_t>(box->value());
    return box->value() == box->maximum() && accepted > shown ? accepted : shown;
  };
  Cropping crop;
  crop.top = side(m_Controls->crop_top, m_CropArea.top);
  crop.bottom = side(m_Controls->crop_bot, m_CropArea.bottom);
  crop.left = side(m_Controls->crop_left, m_CropArea.left);
  crop.right = side(m_Controls->crop_right, m_CropArea.right);
  return crop;
}

QvexaUSControlsCustomVideoDeviceWidget::Cropping QvexaUSControlsCustomVideoDeviceWidget::DeviceCrop() const
{
  const vexa::USProbe::USProbeCropping_ probeCrop = m_ControlInterface->GetCropArea();
  Cropping crop;
  crop.top = probeCrop.top;
  crop.bottom = probeCrop.bottom;
  crop.left = probeCrop.left;
  crop.right = probeCrop.right;
  return crop;
}

void QvexaUSControlsCustomVideoDeviceWidget::EnableCropBoxes(bool enabled)
{
  for (QSpinBox *box : {m_Controls->crop_top, m_Controls->crop_bot, m_Controls->crop_right, m_Controls->crop_left})
    box->setEnabled(enabled);
}
