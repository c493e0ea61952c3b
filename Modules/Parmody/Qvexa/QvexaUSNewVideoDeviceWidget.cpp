#include "QvexaUSNewVideoDeviceWidget.h"

#include "QvexaUSPanelWarning.h"
#include "ui_QvexaUSNewVideoDeviceWidget.h"

#include <vexaUSDeviceWriterXML.h>
#include <vexaUSIGTLDevice.h>
#include <vexaUSImageVideoSource.h>
#include <vexaLog.h>

#include <QFileDialog>
#include <QListWidgetItem>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QStringList>

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>

const std::string QvexaUSNewVideoDeviceWidget::VIEW_ID = "org.vexa.views.QvexaUSNewVideoDeviceWidget";

namespace
{
  const QString kTitle = QStringLiteral("Ultrasound Device");
  const char *const kVideoDeviceClass = "org.vexa.modules.us.USVideoDevice";
  const char *const kNoVideoSource = "There is no USImageVideoSource at the current device.";
  const char *const kSpacingError = "An error occurred when changing the spacing.       The specified probe does not "
                                    "exist.       Please restart the configuration process.";
  const char *const kCroppingError = "An error occurred when changing the probe cropping.       The specified probe "
                                     "does not exist.       Please restart the configuration process.";

  std::string Utf8(const QString &text) { return text.toStdString(); }
  QString FromUtf8(const std::string &text) { return QString::fromStdString(text); }

  /** A plain, parentless, modal message box, as the form shows its problems. */
  void Tell(const QString &text, QMessageBox::Icon icon = QMessageBox::NoIcon)
  {
    QMessageBox box;
    box.setIcon(icon);
    box.setText(text);
    box.exec();
  }
}

QvexaUSNewVideoDeviceWidget::QvexaUSNewVideoDeviceWidget(QWidget *parent, Qt::WindowFlags f)
  : QWidget(parent, f), m_Controls(nullptr)
{
  QvexaUSNewVideoDeviceWidget::CreateQtPartControl(this);
}

QvexaUSNewVideoDeviceWidget::~QvexaUSNewVideoDeviceWidget() { delete m_Controls; }

void QvexaUSNewVideoDeviceWidget::CreateQtPartControl(QWidget *parent)
{
  if (m_Controls)
    return;
  m_Controls = new Ui::QvexaUSNewVideoDeviceWidgetControls;
  m_Controls->setupUi(parent);
  // The designed minimum height of the probe group (180) is less than its twelve rows
  // need in any font; as an explicit minimum it would let the layout squash the rows
  // over each other. Without it Qt keeps the rows' own minimum, font and style included.
  m_Controls->m_GroupBoxEditProbes->setMinimumHeight(0);
  this->CreateConnections();
}

void QvexaUSNewVideoDeviceWidget::CreateConnections()
{
  if (!m_Controls)
    return;
  connect(m_Controls->m_BtnCancel, SIGNAL(clicked()), this, SLOT(OnClickedCancel()));
  connect(m_Controls->m_RadioDeviceSource, SIGNAL(clicked()), this, SLOT(OnDeviceTypeSelection()));
  connect(m_Controls->m_RadioFileSource, SIGNAL(clicked()), this, SLOT(OnDeviceTypeSelection()));
  connect(m_Controls->m_RadioOIGTLClientSource, SIGNAL(clicked()), this, SLOT(OnDeviceTypeSelection()));
  connect(m_Controls->m_RadioOIGTLServerSource, SIGNAL(clicked()), this, SLOT(OnDeviceTypeSelection()));
  connect(m_Controls->m_OpenFileButton, SIGNAL(clicked()), this, SLOT(OnOpenFileButtonClicked()));
  connect(m_Controls->m_BtnSave, SIGNAL(clicked()), this, SLOT(OnSaveButtonClicked()));
  connect(m_Controls->m_BtnLoadConfiguration, SIGNAL(clicked()), this, SLOT(OnLoadConfigurationButtonClicked()));
  connect(m_Controls->m_AddNewProbePushButton, SIGNAL(clicked()), this, SLOT(OnAddNewProbeClicked()));
  connect(m_Controls->m_BtnRemoveProbe, SIGNAL(clicked()), this, SLOT(OnClickedRemoveProbe()));
  connect(m_Controls->m_BtnRemoveDepth, SIGNAL(clicked()), this, SLOT(OnClickedRemoveDepth()));
  connect(m_Controls->m_BtnAddDepths, SIGNAL(clicked()), this, SLOT(OnClickedAddDepths()));
  connect(m_Controls->m_Probes, SIGNAL(currentTextChanged(const QString &)), this,
          SLOT(OnProbeChanged(const QString &)));
  connect(m_Controls->m_Depths, SIGNAL(currentTextChanged(const QString &)), this,
          SLOT(OnDepthChanged(const QString &)));
  connect(m_Controls->m_XSpacingSpinBox, SIGNAL(valueChanged(double)), this, SLOT(OnXSpacingSpinBoxChanged(double)));
  connect(m_Controls->m_YSpacingSpinBox, SIGNAL(valueChanged(double)), this, SLOT(OnYSpacingSpinBoxChanged(double)));
  connect(m_Controls->m_CroppingTopSpinBox, SIGNAL(valueChanged(int)), this, SLOT(OnCroppingTopSpinBoxChanged(int)));
  connect(m_Controls->m_CroppingRightSpinBox, SIGNAL(valueChanged(int)), this,
          SLOT(OnCroppingRightSpinBoxChanged(int)));
  connect(m_Controls->m_CroppingBottomSpinBox, SIGNAL(valueChanged(int)), this,
          SLOT(OnCroppingBottomSpinBoxChanged(int)));
  connect(m_Controls->m_CroppingLeftSpinBox, SIGNAL(valueChanged(int)), this, SLOT(OnCroppingLeftSpinBoxChanged(int)));
}

// ---- creating and editing ----

void QvexaUSNewVideoDeviceWidget::CreateNewDevice()
{
  vexa::RunGuarded(
    [this] {
      // the done button creates, and only creates
      disconnect(m_Controls->m_BtnDone, SIGNAL(clicked()), this, SLOT(OnClickedFinishedEditing()));
      connect(m_Controls->m_BtnDone, SIGNAL(clicked()), this, SLOT(OnClickedDone()), Qt::UniqueConnection);
      m_Controls->m_BtnDone->setText("Add Video Device");
      m_Controls->m_Manufacturer->setText("Unknown Manufacturer");
      m_Controls->m_Model->setText("Unknown Model");
      m_Controls->m_Comment->setText("None");
      m_TargetDevice = nullptr;
      ClearProbes();
      SetSourceFixed(false);
    },
    vexa::parmody::WarningBox(this, kTitle, "prepare the form for a new device"));
}

void QvexaUSNewVideoDeviceWidget::EditDevice(vexa::USDevice::Pointer device)
{
  vexa::RunGuarded(
    [&] {
      if (device.IsNull())
      {
        VEXA_WARN << "No device to edit.";
        return;
      }
      const std::string deviceClass = device->GetDeviceClass();
      auto *video = dynamic_cast<vexa::USVideoDevice *>(device.GetPointer());
      if (deviceClass != kVideoDeviceClass || !video)
      {
        const std::string text =
          "NewVideoDeviceWidget recieved an incompatible device type to edit. Type was: " + deviceClass;
        VEXA_ERROR << text;
        Tell(FromUtf8(text), QMessageBox::Critical);
        return;
      }
      m_TargetDevice = device;
      ClearProbes();
      m_ConfigProbes = video->GetAllProbes();
      ChangeUIEditingUSVideoDevice();
    },
    vexa::parmody::WarningBox(this, kTitle, "prepare the device for editing"));
}

void QvexaUSNewVideoDeviceWidget::ChangeUIEditingUSVideoDevice()
{
  for (const vexa::USProbe::Pointer &probe : m_ConfigProbes)
    m_Controls->m_Probes->addItem(FromUtf8(probe->GetName()));
  OnProbeChanged(m_Controls->m_Probes->currentText());

  // the done button applies, and only applies
  m_Controls->m_BtnDone->setText("Apply Changes");
  disconnect(m_Controls->m_BtnDone, SIGNAL(clicked()), this, SLOT(OnClickedDone()));
  connect(m_Controls->m_BtnDone, SIGNAL(clicked()), this, SLOT(OnClickedFinishedEditing()), Qt::UniqueConnection);

  m_Controls->m_Manufacturer->setText(FromUtf8(m_TargetDevice->GetManufacturer()));
  m_Controls->m_Model->setText(FromUtf8(m_TargetDevice->GetName()));
  m_Controls->m_Comment->setText(FromUtf8(m_TargetDevice->GetComment()));

  // Applying an edit sets the video options from the form: show the device's own,
  // so that a changed name does not also change its colour or resolution.
  vexa::USImageSource::Pointer source = m_TargetDevice->GetImageSource();
  if (auto *videoSource = dynamic_cast<vexa::USImageVideoSource *>(source.GetPointer()))
  {
    m_Controls->m_CheckGreyscale->setChecked(!videoSource->GetColorOutput());
    m_Controls->m_CheckResolutionOverride->setChecked(videoSource->GetResolutionOverride());
    if (videoSource->GetResolutionOverride())
    {
      m_Controls->m_ResolutionWidth->setValue(videoSource->GetResolutionOverrideWidth());
      m_Controls->m_ResolutionHeight->setValue(videoSource->GetResolutionOverrideHeight());
    }
  }

  // Applying an edit cannot change the source (the device was opened on it):
  // show the device's own and close the choices, so that none seems to count.
  if (auto *video = dynamic_cast<vexa::USVideoDevice *>(m_TargetDevice.GetPointer()))
  {
    if (video->GetIsSourceFile())
    {
      m_Controls->m_RadioFileSource->setChecked(true);
      m_Controls->m_FilePathSelector->setText(FromUtf8(video->GetFilePath()));
    }
    else
    {
      m_Controls->m_RadioDeviceSource->setChecked(true);
      m_Controls->m_DeviceSelector->setValue(video->GetDeviceID());
    }
  }
  SetSourceFixed(true);
}

void QvexaUSNewVideoDeviceWidget::OnClickedDone()
{
  vexa::RunGuarded(
    [this] {
      const std::string manufacturer = Utf8(m_Controls->m_Manufacturer->text());
      const std::string model = Utf8(m_Controls->m_Model->text());
      const std::string comment = Utf8(m_Controls->m_Comment->text());

      vexa::USVideoDevice::Pointer video;
      vexa::USIGTLDevice::Pointer igtl;
      if (m_Controls->m_RadioDeviceSource->isChecked())
        video = vexa::USVideoDevice::New(m_Controls->m_DeviceSelector->value(), manufacturer, model);
      else if (m_Controls->m_RadioFileSource->isChecked())
        video = vexa::USVideoDevice::New(Utf8(m_Controls->m_FilePathSelector->text()), manufacturer, model);
      else if (m_Controls->m_RadioOIGTLClientSource->isChecked())
        igtl = vexa::USIGTLDevice::New(manufacturer, model, Utf8(m_Controls->m_OIGTLClientHost->text()),
                                       m_Controls->m_OIGTLClientPort->value(), false);
      else
        igtl = vexa::USIGTLDevice::New(manufacturer, model, Utf8(m_Controls->m_OIGTLServerHost->text()),
                                       m_Controls->m_OIGTLServerPort->value(), true);

      vexa::USDevice::Pointer device;
      if (igtl)
        device = igtl.GetPointer();
      else
      {
        video->SetComment(comment);
        if (!ApplyVideoOptions(video))
          return; // dropped before it was registered
        GiveProbes(video);
        device = video.GetPointer();
      }

      if (!device->Initialize())
      {
        Tell("The new device could not be registered. Check logging for details.", QMessageBox::Critical);
        return;
      }
      CleanUpAfterCreatingNewDevice();
      emit Finished();
    },
    vexa::parmody::WarningBox(this, kTitle, "create the device"));
}

bool QvexaUSNewVideoDeviceWidget::ApplyVideoOptions(vexa::USVideoDevice *device)
{
  vexa::USImageSource::Pointer source = device->GetImageSource();
  auto *videoSource = dynamic_cast<vexa::USImageVideoSource *>(source.GetPointer());
  if (!videoSource)
  {
    VEXA_ERROR << kNoVideoSource;
    Tell(kNoVideoSource, QMessageBox::Critical);
    return false;
  }
  videoSource->SetColorOutput(!m_Controls->m_CheckGreyscale->isChecked());
  if (m_Controls->m_CheckResolutionOverride->isChecked())
  {
    videoSource->OverrideResolution(m_Controls->m_ResolutionWidth->value(), m_Controls->m_ResolutionHeight->value());
    videoSource->EnableResolutionOverride(true);
  }
  else
    videoSource->EnableResolutionOverride(false); // unchecked while editing: switched off
  return true;
}

void QvexaUSNewVideoDeviceWidget::AddProbesToDevice(vexa::USVideoDevice::Pointer device)
{
  if (device.IsNull())
    return;
  device->DeleteAllProbes();
  for (const vexa::USProbe::Pointer &probe : m_ConfigProbes)
  {
    if (probe->IsDepthAndSpacingEmpty())
      probe->SetDepth(0);
    device->AddNewProbe(probe);
  }
}

void QvexaUSNewVideoDeviceWidget::GiveProbes(vexa::USVideoDevice *device)
{
  if (!m_ConfigProbes.empty())
  {
    AddProbesToDevice(device);
    return;
  }
  vexa::USProbe::Pointer probe = vexa::USProbe::New("default");
  probe->SetDepth(0);
  device->DeleteAllProbes();
  device->AddNewProbe(probe);
}

void QvexaUSNewVideoDeviceWidget::OnClickedFinishedEditing()
{
  vexa::RunGuarded(
    [this] {
      auto *video = dynamic_cast<vexa::USVideoDevice *>(m_TargetDevice.GetPointer());
      if (!video)
      {
        VEXA_WARN << "No video device is being edited.";
        return;
      }
      vexa::USVideoDevice::Pointer device = video;
      device->SetManufacturer(Utf8(m_Controls->m_Manufacturer->text()));
      device->SetName(Utf8(m_Controls->m_Model->text()));
      device->SetComment(Utf8(m_Controls->m_Comment->text()));
      GiveProbes(device);
      if (!ApplyVideoOptions(device))
        return;
      CleanUpAfterEditingOfDevice();
      VEXA_INFO << "Finished Editing";
      emit Finished();
    },
    vexa::parmody::WarningBox(this, kTitle, "apply the changes to the device"));
}

void QvexaUSNewVideoDeviceWidget::OnClickedCancel()
{
  vexa::RunGuarded(
    [this] {
      m_TargetDevice = nullptr;
      CleanUpAfterCreatingNewDevice();
      CleanUpAfterEditingOfDevice();
    },
    vexa::parmody::WarningBox(this, kTitle, "cancel"));
  emit Finished();
}

void QvexaUSNewVideoDeviceWidget::CleanUpAfterCreatingNewDevice()
{
  disconnect(m_Controls->m_BtnDone, SIGNAL(clicked()), this, SLOT(OnClickedDone()));
  ClearProbes();
  m_Controls->m_ProbeNameLineEdit->clear();
}

void QvexaUSNewVideoDeviceWidget::CleanUpAfterEditingOfDevice()
{
  disconnect(m_Controls->m_BtnDone, SIGNAL(clicked()), this, SLOT(OnClickedFinishedEditing()));
  ClearProbes();
  SetSourceFixed(false);
}

void QvexaUSNewVideoDeviceWidget::ClearProbes()
{
  m_Controls->m_Probes->clear();
  m_Controls->m_Depths->clear();
  m_Controls->m_AddDepths->clear();
  m_ConfigProbes.clear();
}

QListWidgetItem *QvexaUSNewVideoDeviceWidget::ConstructItemFromDevice(vexa::USDevice::Pointer device)
{
  auto *item = new QListWidgetItem;
  if (device.IsNotNull())
    item->setText(FromUtf8(device->GetManufacturer() + "|" + device->GetName()));
  return item;
}

// ---- source selection ----

void QvexaUSNewVideoDeviceWidget::OnDeviceTypeSelection()
{
  const bool open = !m_SourceFixed;
  m_Controls->m_FilePathSelector->setEnabled(open && m_Controls->m_RadioFileSource->isChecked());
  m_Controls->m_DeviceSelector->setEnabled(open && m_Controls->m_RadioDeviceSource->isChecked());
  m_Controls->m_OIGTLClientHost->setEnabled(open && m_Controls->m_RadioOIGTLClientSource->isChecked());
  m_Controls->m_OIGTLClientPort->setEnabled(open && m_Controls->m_RadioOIGTLClientSource->isChecked());
  m_Controls->m_OIGTLServerHost->setEnabled(open && m_Controls->m_RadioOIGTLServerSource->isChecked());
  m_Controls->m_OIGTLServerPort->setEnabled(open && m_Controls->m_RadioOIGTLServerSource->isChecked());
  m_Controls->m_OpenFileButton->setEnabled(open);
}

void QvexaUSNewVideoDeviceWidget::SetSourceFixed(bool fixed)
{
  m_SourceFixed = fixed;
  for (QWidget *radio :
       std::initializer_list<QWidget *>{m_Controls->m_RadioDeviceSource, m_Controls->m_RadioFileSource,
                                        m_Controls->m_RadioOIGTLServerSource, m_Controls->m_RadioOIGTLClientSource})
    radio->setEnabled(!fixed);
  m_Controls->m_LabelSourceFixed->setVisible(fixed);
  OnDeviceTypeSelection();
}

void QvexaUSNewVideoDeviceWidget::OnOpenFileButtonClicked()
{
  const QString path = QFileDialog::getOpenFileName(nullptr, "Open Video File", QString(), QString());
  if (path.isEmpty())
    return;
  m_Controls->m_FilePathSelector->setText(path);
  m_Controls->m_RadioFileSource->setChecked(true);
  OnDeviceTypeSelection();
}

// ---- configuration files ----

void QvexaUSNewVideoDeviceWidget::CollectUltrasoundVideoDeviceConfigInformation(
  vexa::USDeviceReaderXML::USVideoDeviceConfigData_ &config)
{
  config.fileversion = 1.0;
  config.deviceType = "video";
  config.deviceName = Utf8(m_Controls->m_DeviceName->text());
  config.manufacturer = Utf8(m_Controls->m_Manufacturer->text());
  config.model = Utf8(m_Controls->m_Model->text());
  config.comment = Utf8(m_Controls->m_Comment->text());
  config.deviceIndex = m_Controls->m_DeviceSelector->value();
  config.filePath = Utf8(m_Controls->m_FilePathSelector->text());
  config.useGreyscale = m_Controls->m_CheckGreyscale->isChecked();
  config.useResolutionOverride = m_Controls->m_CheckResolutionOverride->isChecked();
  config.resolutionWidth = m_Controls->m_ResolutionWidth->value();
  config.resolutionHeight = m_Controls->m_ResolutionHeight->value();
  config.probes = m_ConfigProbes;
}

void QvexaUSNewVideoDeviceWidget::OnSaveButtonClicked()
{
  vexa::RunGuarded(
    [this] {
      const QString fileName =
        QFileDialog::getSaveFileName(nullptr, "Save Configuration ...", QString(), "XML files (*.xml)");
      if (fileName.isEmpty())
        return;
      vexa::USDeviceWriterXML writer;
      writer.SetFilename(Utf8(fileName));
      vexa::USDeviceReaderXML::USVideoDeviceConfigData_ config;
      CollectUltrasoundVideoDeviceConfigInformation(config);
      // the writer replaces the file in one step: a failed write leaves the old file as it was
      if (!writer.WriteUltrasoundVideoDeviceConfiguration(config))
        Tell("Error when writing the configuration to the selected file. Could not write device information.");
    },
    vexa::parmody::WarningBox(this, kTitle, "save the configuration"));
}

void QvexaUSNewVideoDeviceWidget::OnLoadConfigurationButtonClicked()
{
  vexa::RunGuarded(
    [this] {
      const QString fileName =
        QFileDialog::getOpenFileName(this, "Open ultrasound device configuration ...", QString(), QString());
      if (fileName.isEmpty())
        return;
      vexa::USDeviceReaderXML reader;
      reader.SetFilename(Utf8(fileName));
      if (!reader.ReadUltrasoundDeviceConfiguration())
      {
        Tell("Error when parsing the selected file. Could not load stored device information.");
        return;
      }
      const vexa::USDeviceReaderXML::USVideoDeviceConfigData_ config = reader.GetUSVideoDeviceConfigData();
      // a file the form cannot take leaves everything typed as it is
      if (config.fileversion != 1.0)
      {
        const char *text = "Unknown fileversion. Only fileversion 1.0 is known to the system.";
        VEXA_WARN << text;
        Tell(text, QMessageBox::Warning);
        return;
      }
      if (config.deviceType != "video")
      {
        const char *text = "Unknown device type detected. The device type must be of type |video|";
        VEXA_WARN << text;
        Tell(text, QMessageBox::Warning);
        return;
      }

      m_Controls->m_DeviceName->setText(FromUtf8(config.deviceName));
      m_Controls->m_Manufacturer->setText(FromUtf8(config.manufacturer));
      m_Controls->m_Model->setText(FromUtf8(config.model));
      m_Controls->m_Comment->setText(FromUtf8(config.comment));
      // an edited device keeps the source it was made on, and the form keeps showing it
      if (!m_SourceFixed)
      {
        m_Controls->m_DeviceSelector->setValue(config.deviceIndex);
        m_Controls->m_FilePathSelector->setText(FromUtf8(config.filePath));
      }
      m_Controls->m_CheckGreyscale->setChecked(config.useGreyscale);
      m_Controls->m_CheckResolutionOverride->setChecked(config.useResolutionOverride);
      m_Controls->m_ResolutionWidth->setValue(config.resolutionWidth);
      m_Controls->m_ResolutionHeight->setValue(config.resolutionHeight);

      ClearProbes();
      m_Controls->m_ProbeNameLineEdit->clear();
      for (const vexa::USProbe::Pointer &probe : config.probes)
      {
        if (probe.IsNull())
          continue;
        m_ConfigProbes.push_back(probe);
        m_Controls->m_Probes->addItem(FromUtf8(probe->GetName()));
      }
      OnProbeChanged(m_Controls->m_Probes->currentText());

      // A record that names a clip is a device on that clip: left on "From Device:",
      // the path would be greyed out and the device made on a camera instead.
      if (!m_SourceFixed && !config.filePath.empty())
      {
        m_Controls->m_RadioFileSource->setChecked(true);
        OnDeviceTypeSelection();
      }
    },
    vexa::parmody::WarningBox(this, kTitle, "load the configuration"));
}

// ---- the probe editor ----

vexa::USProbe::Pointer QvexaUSNewVideoDeviceWidget::CheckIfProbeExistsAlready(const std::string &name)
{
  for (const vexa::USProbe::Pointer &probe : m_ConfigProbes)
    if (probe->GetName() == name)
      return probe;
  return nullptr;
}

vexa::USProbe::Pointer QvexaUSNewVideoDeviceWidget::CurrentProbe()
{
  return CheckIfProbeExistsAlready(Utf8(m_Controls->m_Probes->currentText()));
}

int QvexaUSNewVideoDeviceWidget::CurrentDepth() const { return m_Controls->m_Depths->currentText().toInt(nullptr, 10); }

void QvexaUSNewVideoDeviceWidget::OnAddNewProbeClicked()
{
  vexa::RunGuarded(
    [this] {
      const QString name = m_Controls->m_ProbeNameLineEdit->text().trimmed();
      if (name.isEmpty())
      {
        m_Controls->m_ProbeNameLineEdit->clear();
        return;
      }
      if (CheckIfProbeExistsAlready(Utf8(name)).IsNotNull())
      {
        Tell("Probe name already exists. Please choose another name for the probe.");
        m_Controls->m_ProbeNameLineEdit->clear();
        return;
      }
      m_ConfigProbes.push_back(vexa::USProbe::New(Utf8(name)));
      m_Controls->m_Probes->addItem(name);
      m_Controls->m_Probes->setEnabled(true);
      m_Controls->m_BtnRemoveProbe->setEnabled(true);
      m_Controls->m_BtnAddDepths->setEnabled(true);
      m_Controls->m_AddDepths->setEnabled(true);
      m_Controls->m_ProbeNameLineEdit->clear();
    },
    vexa::parmody::WarningBox(this, kTitle, "add the probe"));
}

void QvexaUSNewVideoDeviceWidget::OnClickedRemoveProbe()
{
  vexa::RunGuarded(
    [this] {
      const int index = m_Controls->m_Probes->currentIndex();
      if (m_Controls->m_Probes->currentText().isEmpty() || index < 0 ||
          static_cast<std::size_t>(index) >= m_ConfigProbes.size())
        return;
      m_ConfigProbes.erase(m_ConfigProbes.begin() + index);
      m_Controls->m_Probes->removeItem(index);
      if (m_Controls->m_Probes->count() == 0)
      {
        m_Controls->m_Probes->setEnabled(false);
        m_Controls->m_BtnRemoveProbe->setEnabled(false);
        m_Controls->m_BtnAddDepths->setEnabled(false);
        m_Controls->m_AddDepths->setEnabled(false);
        m_Controls->m_Depths->setEnabled(false);
        m_Controls->m_BtnRemoveDepth->setEnabled(false);
        EnableDisableSpacingAndCropping(false);
      }
    },
    vexa::parmody::WarningBox(this, kTitle, "remove the probe"));
}

void QvexaUSNewVideoDeviceWidget::OnClickedAddDepths()
{
  vexa::RunGuarded(
    [this] {
      const QString text = m_Controls->m_AddDepths->text();
      if (m_Controls->m_Probes->currentText().isEmpty() || text.isEmpty())
        return;
      vexa::USProbe::Pointer probe = CurrentProbe();
      if (probe.IsNull())
        return;
      QStringList ignored;
      for (const QString &part : text.split(',', Qt::KeepEmptyParts))
      {
        bool whole = false;
        const int depth = part.trimmed().toInt(&whole, 10);
        if (whole && depth >= 0)
          probe->SetDepth(depth);
        else
          ignored << QLatin1Char('"') + part + QLatin1Char('"');
      }
      m_Controls->m_AddDepths->clear();
      m_Controls->m_Depths->setEnabled(true);
      m_Controls->m_BtnRemoveDepth->setEnabled(true);
      OnProbeChanged(m_Controls->m_Probes->currentText());
      if (!ignored.isEmpty())
      {
        const QString warning =
          "Depths are whole numbers of 0 or more, separated by commas. Ignored: " + ignored.join(QStringLiteral(", "));
        VEXA_WARN << warning.toStdString();
        Tell(warning, QMessageBox::Warning);
      }
    },
    vexa::parmody::WarningBox(this, kTitle, "add the depths"));
}

void QvexaUSNewVideoDeviceWidget::OnClickedRemoveDepth()
{
  vexa::RunGuarded(
    [this] {
      if (m_Controls->m_Probes->currentText().isEmpty() || m_Controls->m_Depths->currentText().isEmpty())
        return;
      if (vexa::USProbe::Pointer probe = CurrentProbe())
        probe->RemoveDepth(CurrentDepth());
      m_Controls->m_Depths->removeItem(m_Controls->m_Depths->currentIndex());
      if (m_Controls->m_Depths->count() == 0)
      {
        m_Controls->m_Depths->setEnabled(false);
        m_Controls->m_BtnRemoveDepth->setEnabled(false);
        EnableDisableSpacingAndCropping(false);
      }
    },
    vexa::parmody::WarningBox(this, kTitle, "remove the depth"));
}

void QvexaUSNewVideoDeviceWidget::OnProbeChanged(const QString &probename)
{
  vexa::RunGuarded(
    [&] {
      if (probename.isEmpty())
      {
        m_Controls->m_Depths->clear();
        m_Controls->m_Depths->setEnabled(false);
        m_Controls->m_BtnRemoveDepth->setEnabled(false);
        return;
      }
      vexa::USProbe::Pointer probe = CheckIfProbeExistsAlready(Utf8(probename));
      if (probe.IsNull())
        return;
      m_Controls->m_Depths->clear();
      for (const auto &entry : probe->GetDepthsAndSpacing())
        m_Controls->m_Depths->addItem(QString::number(entry.first));
      OnDepthChanged(CurrentDepth(), probe);
    },
    vexa::parmody::WarningBox(this, kTitle, "show the probe"));
}

void QvexaUSNewVideoDeviceWidget::OnDepthChanged(const QString &depth)
{
  vexa::RunGuarded(
    [&] {
      VEXA_INFO << "OnDepthChanged(int, vexa::USProbe)";
      if (depth.isEmpty())
      {
        EnableDisableSpacingAndCropping(false);
        return;
      }
      OnDepthChanged(depth.toInt(nullptr, 10), CurrentProbe());
    },
    vexa::parmody::WarningBox(this, kTitle, "show the depth"));
}

void QvexaUSNewVideoDeviceWidget::OnDepthChanged(int depth, vexa::USProbe::Pointer probe)
{
  vexa::RunGuarded(
    [&] {
      if (m_Controls->m_Depths->count() == 0)
      {
        m_Controls->m_Depths->setEnabled(false);
        m_Controls->m_BtnRemoveDepth->setEnabled(false);
        EnableDisableSpacingAndCropping(false);
        return;
      }
      if (probe.IsNull())
        return;

      // Shown, not changed: a spin box that clamps a stored value must not write it back.
      const vexa::Vector3D spacing = probe->GetSpacingForGivenDepth(depth);
      const vexa::USProbe::USProbeCropping_ cropping = probe->GetProbeCropping();
      const auto show = [](auto *box, auto value) {
        const QSignalBlocker blocker(box);
        box->setValue(value);
      };
      show(m_Controls->m_XSpacingSpinBox, spacing[0]);
      show(m_Controls->m_YSpacingSpinBox, spacing[1]);
      // beyond int, a stored cropping shows as the largest the box takes
      const auto asInt = [](std::uint32_t value) { return value > 0x7fffffffu ? 0x7fffffff : static_cast<int>(value); };
      show(m_Controls->m_CroppingTopSpinBox, asInt(cropping.top));
      show(m_Controls->m_CroppingRightSpinBox, asInt(cropping.right));
      show(m_Controls->m_CroppingBottomSpinBox, asInt(cropping.bottom));
      show(m_Controls->m_CroppingLeftSpinBox, asInt(cropping.left));

      EnableDisableSpacingAndCropping(true);
      m_Controls->m_Depths->setEnabled(true);
      m_Controls->m_BtnRemoveDepth->setEnabled(true);
      m_Controls->m_AddDepths->setEnabled(true);
      m_Controls->m_BtnAddDepths->setEnabled(true);
      m_Controls->m_Probes->setEnabled(true);
      m_Controls->m_BtnRemoveProbe->setEnabled(true);
    },
    vexa::parmody::WarningBox(this, kTitle, "show the depth"));
}

void QvexaUSNewVideoDeviceWidget::EnableDisableSpacingAndCropping(bool enable)
{
  for (QWidget *widget : std::initializer_list<QWidget *>{
         m_Controls->m_XSpacingSpinBox, m_Controls->m_YSpacingSpinBox, m_Controls->m_XSpacingLabel,
         m_Controls->m_YSpacingLabel, m_Controls->m_CroppingTopSpinBox, m_Controls->m_CroppingRightSpinBox,
         m_Controls->m_CroppingBottomSpinBox, m_Controls->m_CroppingLeftSpinBox, m_Controls->m_CroppingTopLabel,
         m_Controls->m_CroppingBottomLabel, m_Controls->m_CroppingLeftLabel, m_Controls->m_CroppingRightLabel})
    widget->setEnabled(enable);
}

namespace
{
  /** One value handler of the probe editor: records the change, then stores it into the current probe. */
  template <class Store>
  void ChangeProbeValue(vexa::USProbe *probe, const std::string &record, const char *error, Store store)
  {
    VEXA_INFO << record;
    if (!probe)
    {
      Tell(error);
      return;
    }
    store(probe);
  }
}

void QvexaUSNewVideoDeviceWidget::OnXSpacingSpinBoxChanged(double value)
{
  vexa::RunGuarded(
    [&] {
      const int depth = CurrentDepth();
      ChangeProbeValue(CurrentProbe(), "Changing x-spacing to: " + QString::number(value).toStdString(), kSpacingError,
                       [&](vexa::USProbe *probe) {
                         vexa::Vector3D spacing = probe->GetSpacingForGivenDepth(depth);
                         spacing[0] = value;
                         probe->SetSpacingForGivenDepth(depth, spacing);
                       });
    },
    vexa::parmody::WarningBox(this, kTitle, "change the spacing"));
}

void QvexaUSNewVideoDeviceWidget::OnYSpacingSpinBoxChanged(double value)
{
  vexa::RunGuarded(
    [&] {
      const int depth = CurrentDepth();
      ChangeProbeValue(CurrentProbe(), "Changing y-spacing to: " + QString::number(value).toStdString(), kSpacingError,
                       [&](vexa::USProbe *probe) {
                         vexa::Vector3D spacing = probe->GetSpacingForGivenDepth(depth);
                         spacing[1] = value;
                         probe->SetSpacingForGivenDepth(depth, spacing);
                       });
    },
    vexa::parmody::WarningBox(this, kTitle, "change the spacing"));
}

namespace
{
  enum class Edge
  {
    Top,
    Right,
    Bottom,
    Left
  };

  void StoreCropping(vexa::USProbe *probe, Edge edge, int value)
  {
    vexa::USProbe::USProbeCropping_ c = probe->GetProbeCropping();
    const std::uint32_t v = value < 0 ? 0u : static_cast<std::uint32_t>(value);
    switch (edge)
    {
      case Edge::Top:
        c.top = v;
        break;
      case Edge::Right:
        c.right = v;
        break;
      case Edge::Bottom:
        c.bottom = v;
        break;
      case Edge::Left:
        c.left = v;
        break;
    }
    probe->SetProbeCropping(c.top, c.bottom, c.left, c.right);
  }
}

void QvexaUSNewVideoDeviceWidget::OnCroppingTopSpinBoxChanged(int value)
{
  vexa::RunGuarded(
    [&] {
      ChangeProbeValue(CurrentProbe(), "Changing cropping top to: " + std::to_string(value), kCroppingError,
                       [&](vexa::USProbe *probe) { StoreCropping(probe, Edge::Top, value); });
    },
    vexa::parmody::WarningBox(this, kTitle, "change the cropping"));
}

void QvexaUSNewVideoDeviceWidget::OnCroppingRightSpinBoxChanged(int value)
{
  vexa::RunGuarded(
    [&] {
      ChangeProbeValue(CurrentProbe(), "Changing cropping right to: " + std::to_string(value), kCroppingError,
                       [&](vexa::USProbe *probe) { StoreCropping(probe, Edge::Right, value); });
    },
    vexa::parmody::WarningBox(this, kTitle, "change the cropping"));
}

void QvexaUSNewVideoDeviceWidget::OnCroppingBottomSpinBoxChanged(int value)
{
  vexa::RunGuarded(
    [&] {
      ChangeProbeValue(CurrentProbe(), "Changing cropping bottom to: " + std::to_string(value), kCroppingError,
                       [&](vexa::USProbe *probe) { StoreCropping(probe, Edge::Bottom, value); });
    },
    vexa::parmody::WarningBox(this, kTitle, "change the cropping"));
}

void QvexaUSNewVideoDeviceWidget::OnCroppingLeftSpinBoxChanged(int value)
{
  vexa::RunGuarded(
    [&] {
      ChangeProbeValue(CurrentProbe(), "Changing cropping left to: " + std::to_string(value), kCroppingError,
                       [&](vexa::USProbe *probe) { StoreCropping(probe, Edge::Left, value); });
    },
    vexa::parmody::WarningBox(this, kTitle, "change the cropping"));
}
