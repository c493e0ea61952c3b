// Paints the plug-in's 128 x 128 icon (the picture of resources/pai.svg) into
// the PNG file named on the command line. Run by the build.

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

int main(int argc, char **argv)
{
  if (argc != 2)
  {
    std::fprintf(stderr, "usage: %s <icon.png>\n", argv[0]);
    return 2;
  }
  QImage icon(128, 128, QImage::Format_ARGB32);
  icon.fill(Qt::transparent);
  QPainter painter(&icon);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(2, 2); // the drawing is made on the SVG's 64 x 64 grid
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor("#1d2b3a"));
  painter.drawRoundedRect(QRectF(2, 2, 60, 60), 8, 8);
  painter.setBrush(QColor("#9fb4c8"));
  painter.drawRoundedRect(QRectF(10, 8, 44, 6), 2, 2);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(QColor("#f6c343"), 2.5));
  for (const auto &arc : {std::make_pair(14.0, 30.0), std::make_pair(18.0, 38.0)})
  {
    QPainterPath path(QPointF(arc.first, arc.second));
    path.quadTo(QPointF(32, arc.second - 14 + (arc.first == 18.0 ? 2 : 0)), QPointF(64 - arc.first, arc.second));
    painter.drawPath(path);
  }
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor("#ff5a36"));
  painter.drawEllipse(QPointF(32, 46), 6, 6);
  painter.end();
  if (!icon.save(QString::fromLocal8Bit(argv[1]), "PNG"))
  {
    std::fprintf(stderr, "could not write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
