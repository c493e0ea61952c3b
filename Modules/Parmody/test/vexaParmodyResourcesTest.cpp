#include <usModule.h>
#include <usModuleRegistry.h>

#include <QDir>
#include <QImage>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <map>

namespace
{
  // name of the active picture a greyed one is a copy of ("" when the active one is not a file)
  const std::map<QString, QString> &Icons()
  {
    static const std::map<QString, QString> icons = [] {
      std::map<QString, QString> all;
      for (const char *name :
           {"accept.png", "restart.png", "plus.png", "minus.png", "zoom-in.png", "zoom-out.png", "go-previous.png",
            "go-next.png", "document-open.png", "document-save.png", "preferences.png", "process-stop.png",
            "record.png", "star.png", "system-lock-screen.png"})
        all[name] = QString();
      all["record-gray.png"] = "record.png";
      for (const char *base : {"ultrasound01-probe", "ultrasound02-scan", "ultrasound03-targeting",
                               "ultrasound04-warning", "ultrasound05-criticalStructures", "ultrasound06-criticalScan"})
      {
        const QString b = base;
        all[b + "-300ppi.png"] = QString();
        all[b + "-300ppi-deactivated.png"] = b + "-300ppi.png";
        all[b + "-72ppi-deactivated.png"] = QString();
      }
      return all;
    }();
    return icons;
  }

  bool IsGreyed(const QString &name) { return name.contains("deactivated") || name == "record-gray.png"; }

  QImage Load(const QString &name) { return QImage(":/Parmody/" + name).convertToFormat(QImage::Format_ARGB32); }
}

TEST(ParmodyLibrary, IsTheRegistryModuleParmody)
{
  us::Module *module = us::ModuleRegistry::GetModule("Parmody");
  ASSERT_NE(nullptr, module);
  EXPECT_TRUE(module->IsLoaded());
}

TEST(ParmodyIcons, AllLoadFromTheLibraryWithoutBeingRegisteredByTheCaller)
{
  ASSERT_EQ(34u, Icons().size());
  QStringList present = QDir(":/Parmody").entryList(QDir::Files);
  present.sort();
  QStringList expected;
  for (const auto &icon : Icons())
    expected << icon.first;
  expected.sort();
  EXPECT_EQ(expected, present);

  std::map<QByteArray, QString> seen; // pixels -> name: every picture is a different one
  for (const auto &icon : Icons())
  {
    SCOPED_TRACE(icon.first.toStdString());
    const QImage image = Load(icon.first);
    ASSERT_FALSE(image.isNull());
    EXPECT_GE(image.width(), 16);
    EXPECT_GE(image.height(), 16);
    const QByteArray pixels(reinterpret_cast<const char *>(image.constBits()), int(image.sizeInBytes()));
    EXPECT_TRUE(seen.emplace(pixels, icon.first).second) << "same picture as " << seen[pixels].toStdString();

    bool coloured = false, opaque = false;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
      {
        const QRgb p = image.pixel(x, y);
        opaque = opaque || qAlpha(p) > 0;
        coloured = coloured || (qAlpha(p) > 0 && (qRed(p) != qGreen(p) || qGreen(p) != qBlue(p)));
      }
    EXPECT_TRUE(opaque) << "empty picture";
    EXPECT_EQ(!IsGreyed(icon.first), coloured);
  }
}

TEST(ParmodyIcons, GreyedPicturesCoverTheirActiveOnes)
{
  for (const auto &icon : Icons())
  {
    if (icon.second.isEmpty())
      continue;
    SCOPED_TRACE(icon.first.toStdString());
    const QImage grey = Load(icon.first);
    const QImage active = Load(icon.second);
    ASSERT_EQ(active.size(), grey.size());
    int mismatches = 0;
    for (int y = 0; y < active.height(); ++y)
      for (int x = 0; x < active.width(); ++x)
      {
        const int a = qAlpha(active.pixel(x, y)), g = qAlpha(grey.pixel(x, y));
        if ((a == 0) != (g == 0) && (a > 3 || g > 3))
          ++mismatches;
      }
    EXPECT_EQ(0, mismatches) << "the greyed picture has another shape";
  }
}
