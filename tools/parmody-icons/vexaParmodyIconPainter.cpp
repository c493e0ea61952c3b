// Paints the icon set of the Parmody library (Modules/Parmody/resources).
//
//   ParmodyIconPainter <output folder>
//
// The PNGs it writes are committed; run it again only to change the
// pictures. Every picture is drawn in a 100 x 100 logical square, so each
// one can be written at any size. A "-deactivated" file (and "record-gray")
// is the greyed copy of its active picture at the same size.

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cstdio>
#include <functional>
#include <vector>

namespace
{
  using Picture = std::function<void(QPainter &)>;

  const QColor kOutline(40, 40, 40);
  const QColor kGreen(46, 160, 67);
  const QColor kRed(210, 45, 45);
  const QColor kBlue(40, 110, 200);
  const QColor kYellow(245, 195, 30);
  const QColor kOrange(240, 130, 20);
  const QColor kSteel(120, 130, 140);
  const QColor kPaper(250, 250, 245);
  const QColor kTissue(70, 70, 80);

  QPen Outline(qreal width = 4) { return QPen(kOutline, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin); }

  void Check(QPainter &p)
  {
    QPainterPath mark;
    mark.moveTo(14, 52);
    mark.lineTo(40, 78);
    mark.lineTo(88, 24);
    p.setPen(QPen(kGreen.darker(140), 22, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(mark);
    p.setPen(QPen(kGreen, 14, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(mark);
  }

  void Arrowhead(QPainter &p, QPointF tip, qreal angleDegrees, qreal size, const QColor &fill)
  {
    const qreal a = qDegreesToRadians(angleDegrees);
    const QPointF back(-qCos(a) * size, -qSin(a) * size);
    const QPointF side(-qSin(a) * size * 0.6, qCos(a) * size * 0.6);
    QPolygonF head;
    head << tip << tip + back + side << tip + back - side;
    p.setPen(Outline(3));
    p.setBrush(fill);
    p.drawPolygon(head);
  }

  void Restart(QPainter &p)
  {
    // an almost closed circle turning clockwise, the arrow at its open end
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kBlue.darker(130), 16, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(QRectF(18, 18, 64, 64), 110 * 16, 290 * 16);
    p.setPen(QPen(kBlue, 10, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(QRectF(18, 18, 64, 64), 110 * 16, 290 * 16);
    // the arc ends at 40 degrees; the head continues it counter-clockwise
    const qreal end = qDegreesToRadians(40.0);
    const QPointF tip(50 + 32 * qCos(end) - 18 * qSin(end), 50 - 32 * qSin(end) - 18 * qCos(end));
    Arrowhead(p, tip, -130, 26, kBlue);
  }

  void Bar(QPainter &p, const QRectF &r, const QColor &fill)
  {
    p.setPen(Outline(3));
    p.setBrush(fill);
    p.drawRoundedRect(r, 4, 4);
  }

  void Plus(QPainter &p)
  {
    QPainterPath cross;
    cross.addRoundedRect(QRectF(40, 12, 20, 76), 4, 4);
    cross.addRoundedRect(QRectF(12, 40, 76, 20), 4, 4);
    cross.setFillRule(Qt::WindingFill);
    p.setPen(Outline(3));
    p.setBrush(kGreen);
    p.drawPath(cross.simplified());
  }

  void Minus(QPainter &p) { Bar(p, QRectF(12, 40, 76, 20), kRed); }

  void Magnifier(QPainter &p)
  {
    p.setPen(QPen(kOutline, 14, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(64, 64), QPointF(88, 88));
    p.setPen(Outline(6));
    p.setBrush(QColor(215, 235, 250));
    p.drawEllipse(QRectF(10, 10, 58, 58));
  }

  void ZoomIn(QPainter &p)
  {
    Magnifier(p);
    p.setPen(QPen(kOutline, 8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(26, 39), QPointF(52, 39));
    p.drawLine(QPointF(39, 26), QPointF(39, 52));
  }

  void ZoomOut(QPainter &p)
  {
    Magnifier(p);
    p.setPen(QPen(kOutline, 8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(26, 39), QPointF(52, 39));
  }

  void ArrowLeft(QPainter &p)
  {
    QPolygonF arrow;
    arrow << QPointF(10, 50) << QPointF(48, 14) << QPointF(48, 34) << QPointF(90, 34) << QPointF(90, 66)
          << QPointF(48, 66) << QPointF(48, 86);
    p.setPen(Outline(4));
    p.setBrush(kBlue);
    p.drawPolygon(arrow);
  }

  void ArrowRight(QPainter &p)
  {
    p.translate(100, 0);
    p.scale(-1, 1);
    ArrowLeft(p);
  }

  void DocumentOpen(QPainter &p)
  {
    // folder back, a sheet sticking out, the front flap opened towards the viewer
    p.setPen(Outline(3));
    p.setBrush(kOrange.darker(115));
    QPolygonF back;
    back << QPointF(8, 24) << QPointF(36, 24) << QPointF(42, 32) << QPointF(84, 32) << QPointF(84, 84)
         << QPointF(8, 84);
    p.drawPolygon(back);
    p.setBrush(kPaper);
    p.drawRect(QRectF(20, 16, 52, 50));
    p.setBrush(kOrange.lighter(120));
    QPolygonF flap;
    flap << QPointF(20, 46) << QPointF(96, 46) << QPointF(84, 84) << QPointF(8, 84);
    p.drawPolygon(flap);
  }

  void DocumentSave(QPainter &p)
  {
    // a floppy disk: body, metal shutter, label
    p.setPen(Outline(4));
    p.setBrush(kBlue.darker(120));
    QPolygonF body;
    body << QPointF(10, 10) << QPointF(78, 10) << QPointF(90, 22) << QPointF(90, 90) << QPointF(10, 90);
    p.drawPolygon(body);
    p.setBrush(kSteel.lighter(140));
    p.drawRect(QRectF(26, 10, 44, 26));
    p.setBrush(kBlue.darker(120));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(54, 15, 10, 16));
    p.setPen(Outline(3));
    p.setBrush(kPaper);
    p.drawRect(QRectF(20, 52, 60, 38));
    p.setPen(QPen(kSteel, 3));
    p.drawLine(QPointF(28, 64), QPointF(72, 64));
    p.drawLine(QPointF(28, 76), QPointF(72, 76));
  }

  void Gear(QPainter &p)
  {
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i)
    {
      const qreal a0 = (i - 0.5) * M_PI / teeth;
      const qreal a1 = (i + 0.5) * M_PI / teeth;
      const qreal r = (i % 2 == 0) ? 44 : 33;
      const QPointF c0(50 + r * qCos(a0), 50 + r * qSin(a0));
      const QPointF c1(50 + r * qCos(a1), 50 + r * qSin(a1));
      if (i == 0)
        gear.moveTo(c0);
      else
        gear.lineTo(c0);
      gear.lineTo(c1);
    }
    gear.closeSubpath();
    gear.addEllipse(QPointF(50, 50), 14, 14);
    gear.setFillRule(Qt::OddEvenFill);
    p.setPen(Outline(3));
    p.setBrush(kSteel);
    p.drawPath(gear);
  }

  void ProcessStop(QPainter &p)
  {
    QPolygonF octagon;
    for (int i = 0; i < 8; ++i)
    {
      const qreal a = (i * 45 + 22.5) * M_PI / 180;
      octagon << QPointF(50 + 44 * qCos(a), 50 + 44 * qSin(a));
    }
    p.setPen(Outline(4));
    p.setBrush(kRed);
    p.drawPolygon(octagon);
    p.setPen(QPen(Qt::white, 12, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(33, 33), QPointF(67, 67));
    p.drawLine(QPointF(67, 33), QPointF(33, 67));
  }

  void Record(QPainter &p)
  {
    QRadialGradient shine(QPointF(38, 36), 50);
    shine.setColorAt(0, kRed.lighter(150));
    shine.setColorAt(1, kRed.darker(120));
    p.setPen(Outline(4));
    p.setBrush(shine);
    p.drawEllipse(QRectF(12, 12, 76, 76));
  }

  void Star(QPainter &p)
  {
    QPolygonF star;
    for (int i = 0; i < 10; ++i)
    {
      const qreal a = (-90 + i * 36) * M_PI / 180;
      const qreal r = (i % 2 == 0) ? 46 : 19;
      star << QPointF(50 + r * qCos(a), 54 + r * qSin(a));
    }
    p.setPen(Outline(3));
    p.setBrush(kYellow);
    p.drawPolygon(star);
  }

  void LockScreen(QPainter &p)
  {
    // a monitor with a padlock on its screen
    p.setPen(Outline(4));
    p.setBrush(kSteel.darker(110));
    p.drawRoundedRect(QRectF(6, 8, 88, 64), 5, 5);
    p.setBrush(QColor(30, 50, 90));
    p.drawRect(QRectF(13, 15, 74, 50));
    p.setBrush(kSteel);
    p.drawRect(QRectF(40, 72, 20, 10));
    p.drawRoundedRect(QRectF(24, 82, 52, 9), 3, 3);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kYellow.darker(110), 6));
    p.drawArc(QRectF(38, 20, 24, 26), 0, 180 * 16);
    p.drawLine(QPointF(38, 33), QPointF(38, 38));
    p.drawLine(QPointF(62, 33), QPointF(62, 38));
    p.setPen(Outline(3));
    p.setBrush(kYellow);
    p.drawRoundedRect(QRectF(32, 36, 36, 24), 3, 3);
    p.setBrush(kOutline);
    p.drawEllipse(QPointF(50, 46), 3, 3);
  }

  // --- ultrasound pictures: a probe above the fan of its scan sector

  void Probe(QPainter &p, const QRectF &box)
  {
    // handheld transducer: rounded grip, wider head with the array at its face, cable
    const qreal x = box.x(), y = box.y(), w = box.width(), h = box.height();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kOutline, w * 0.08, Qt::SolidLine, Qt::RoundCap));
    QPainterPath cable;
    cable.moveTo(x + w * 0.5, y + h * 0.15);
    cable.cubicTo(x + w * 0.5, y - h * 0.05, x + w * 0.85, y, x + w * 0.95, y - h * 0.02);
    p.drawPath(cable);
    p.setPen(Outline(3));
    p.setBrush(kSteel.lighter(130));
    QPainterPath grip;
    grip.moveTo(x + w * 0.35, y + h * 0.1);
    grip.lineTo(x + w * 0.65, y + h * 0.1);
    grip.lineTo(x + w * 0.72, y + h * 0.62);
    grip.lineTo(x + w * 0.28, y + h * 0.62);
    grip.closeSubpath();
    p.drawPath(grip);
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(x + w * 0.12, y + h * 0.6, w * 0.76, h * 0.3), 4, 4);
    p.setBrush(kYellow);
    p.drawRect(QRectF(x + w * 0.18, y + h * 0.86, w * 0.64, h * 0.1));
  }

  QPainterPath Sector()
  {
    QPainterPath fan;
    fan.moveTo(50, 6);
    fan.arcTo(QRectF(50 - 86, 6 - 86, 172, 172), 236, 68);
    fan.closeSubpath();
    return fan;
  }

  void ScanSector(QPainter &p)
  {
    const QPainterPath fan = Sector();
    p.setPen(Outline(3));
    p.setBrush(kTissue);
    p.drawPath(fan);
    // speckle-like bands of echo inside the fan
    p.save();
    p.setClipPath(fan);
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 4; ++i)
    {
      p.setPen(QPen(QColor(170, 170, 175), 3));
      const qreal r = 34 + i * 14;
      p.drawArc(QRectF(50 - r, 6 - r, 2 * r, 2 * r), 236 * 16, 68 * 16);
    }
    p.restore();
    Probe(p, QRectF(34, -2, 32, 18));
  }

  void UltrasoundProbe(QPainter &p) { Probe(p, QRectF(14, 10, 72, 84)); }

  void UltrasoundScan(QPainter &p) { ScanSector(p); }

  void UltrasoundTargeting(QPainter &p)
  {
    ScanSector(p);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kGreen.lighter(130), 5));
    p.drawEllipse(QPointF(50, 64), 16, 16);
    p.setPen(QPen(kGreen.lighter(130), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(50, 40), QPointF(50, 56));
    p.drawLine(QPointF(50, 72), QPointF(50, 88));
    p.drawLine(QPointF(26, 64), QPointF(42, 64));
    p.drawLine(QPointF(58, 64), QPointF(74, 64));
  }

  void WarningSign(QPainter &p, const QPointF &centre, qreal size)
  {
    QPolygonF triangle;
    triangle << QPointF(centre.x(), centre.y() - size * 0.55)
             << QPointF(centre.x() + size * 0.55, centre.y() + size * 0.45)
             << QPointF(centre.x() - size * 0.55, centre.y() + size * 0.45);
    p.setPen(QPen(kOutline, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kYellow);
    p.drawPolygon(triangle);
    p.setPen(QPen(kOutline, size * 0.12, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(centre.x(), centre.y() - size * 0.22), QPointF(centre.x(), centre.y() + size * 0.12));
    p.drawPoint(QPointF(centre.x(), centre.y() + size * 0.3));
  }

  void UltrasoundWarning(QPainter &p)
  {
    ScanSector(p);
    WarningSign(p, QPointF(50, 62), 48);
  }

  void CriticalStructures(QPainter &p)
  {
    // a vessel crossing the sector and a round lesion beside it, in red
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kRed.darker(110), 9, Qt::SolidLine, Qt::RoundCap));
    QPainterPath vessel;
    vessel.moveTo(14, 52);
    vessel.cubicTo(36, 44, 52, 74, 86, 60);
    p.drawPath(vessel);
    p.setPen(QPen(kOutline, 2));
    p.setBrush(kRed);
    p.drawEllipse(QPointF(40, 80), 9, 8);
  }

  void UltrasoundCriticalStructures(QPainter &p)
  {
    ScanSector(p);
    CriticalStructures(p);
  }

  void UltrasoundCriticalScan(QPainter &p)
  {
    // the sector with its critical structures, framed in red as under alarm
    ScanSector(p);
    CriticalStructures(p);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kRed, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(Sector());
    WarningSign(p, QPointF(80, 84), 26);
  }

  QImage Paint(const Picture &picture, int size, int ppi)
  {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    const int dotsPerMeter = qRound(ppi / 0.0254);
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 100.0, size / 100.0);
    picture(p);
    p.end();
    return image;
  }

  /** The disabled look: grey by luminance, lifted towards light grey, partly transparent. */
  QImage Greyed(const QImage &active)
  {
    QImage grey = active.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < grey.height(); ++y)
    {
      QRgb *line = reinterpret_cast<QRgb *>(grey.scanLine(y));
      for (int x = 0; x < grey.width(); ++x)
      {
        const int g = 96 + qGray(line[x]) * 5 / 8;
        line[x] = qRgba(g, g, g, qAlpha(line[x]) * 3 / 4);
      }
    }
    return grey;
  }

  bool Save(const QImage &image, const QDir &folder, const QString &name)
  {
    const QString path = folder.filePath(name);
    if (!image.save(path, "PNG"))
    {
      std::fprintf(stderr, "Could not write %s\n", qPrintable(path));
      return false;
    }
    return true;
  }
}

int main(int argc, char *argv[])
{
  if (argc != 2)
  {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  if (!folder.exists())
  {
    std::fprintf(stderr, "No such folder: %s\n", argv[1]);
    return 2;
  }

  // toolbar and button pictures, 32 x 32
  const std::vector<std::pair<const char *, Picture>> plain = {
    {"accept.png", Check},
    {"restart.png", Restart},
    {"plus.png", Plus},
    {"minus.png", Minus},
    {"zoom-in.png", ZoomIn},
    {"zoom-out.png", ZoomOut},
    {"go-previous.png", ArrowLeft},
    {"go-next.png", ArrowRight},
    {"document-open.png", DocumentOpen},
    {"document-save.png", DocumentSave},
    {"preferences.png", Gear},
    {"process-stop.png", ProcessStop},
    {"record.png", Record},
    {"star.png", Star},
    {"system-lock-screen.png", LockScreen},
  };
  // workflow pictures: a large one at 300 ppi, a small one at 72 ppi
  const std::vector<std::pair<const char *, Picture>> ultrasound = {
    {"ultrasound01-probe", UltrasoundProbe},
    {"ultrasound02-scan", UltrasoundScan},
    {"ultrasound03-targeting", UltrasoundTargeting},
    {"ultrasound04-warning", UltrasoundWarning},
    {"ultrasound05-criticalStructures", UltrasoundCriticalStructures},
    {"ultrasound06-criticalScan", UltrasoundCriticalScan},
  };

  int failures = 0;
  for (const auto &entry : plain)
    failures += !Save(Paint(entry.second, 32, 72), folder, entry.first);
  failures += !Save(Greyed(Paint(Record, 32, 72)), folder, "record-gray.png");

  for (const auto &entry : ultrasound)
  {
    const QString base = entry.first;
    const QImage large = Paint(entry.second, 128, 300);
    failures += !Save(large, folder, base + "-300ppi.png");
    failures += !Save(Greyed(large), folder, base + "-300ppi-deactivated.png");
    failures += !Save(Greyed(Paint(entry.second, 32, 72)), folder, base + "-72ppi-deactivated.png");
  }
  return failures == 0 ? 0 : 1;
}
