// Draws the toolbox icons and panel background as PNG files.
// Usage: iconpainter <output folder>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

// Icons are drawn on a 32-unit grid (their logical size in the toolbox) and
// rendered at 4x, so they stay sharp at the 2.0 scale of 4K panels.
const int kUnit = 4;
const QColor kLine(255, 255, 255);
const QColor kAccent(79, 195, 247);
const QColor kWarm(255, 213, 79);

QPen linePen(double width = 2.2)
{
    QPen pen(kLine, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

bool saveIcon(const QString &file, const std::function<void(QPainter &)> &draw)
{
    QImage image(32 * kUnit, 32 * kUnit, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(kUnit, kUnit);
    draw(p);
    p.end();
    return image.save(file, "PNG");
}

void drawCapture(QPainter &p)
{
    // A selection frame inside two crop marks.
    QColor fill = kAccent;
    fill.setAlpha(110);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRect(QRectF(11, 11, 10, 10));
    p.setBrush(Qt::NoBrush);
    p.setPen(linePen());
    QPainterPath marks;
    marks.moveTo(9, 3);
    marks.lineTo(9, 23);
    marks.lineTo(29, 23);
    marks.moveTo(3, 9);
    marks.lineTo(23, 9);
    marks.lineTo(23, 29);
    p.drawPath(marks);
}

void drawSpotlight(QPainter &p)
{
    // A lamp at the top throwing a cone of light onto a lit spot.
    QPainterPath beam;
    beam.moveTo(13.5, 8);
    beam.lineTo(5, 25);
    beam.lineTo(27, 25);
    beam.lineTo(18.5, 8);
    beam.closeSubpath();
    QLinearGradient glow(16, 8, 16, 26);
    glow.setColorAt(0, QColor(255, 213, 79, 200));
    glow.setColorAt(1, QColor(255, 213, 79, 40));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawPath(beam);

    p.setBrush(kWarm);
    p.drawEllipse(QPointF(16, 25.5), 11, 3.5);

    p.setPen(linePen(2.0));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(13.5, 8), QPointF(6.5, 22));
    p.drawLine(QPointF(18.5, 8), QPointF(25.5, 22));
    p.setBrush(kLine);
    p.drawRoundedRect(QRectF(12, 3, 8, 5.5), 1.5, 1.5);
}

// A ring in the line colour around a lightly tinted face (clock, lens).
void drawTintedRing(QPainter &p, const QPointF &centre, double radius)
{
    QColor face = kAccent;
    face.setAlpha(70);
    p.setPen(linePen());
    p.setBrush(face);
    p.drawEllipse(centre, radius, radius);
}

void drawClock(QPainter &p)
{
    drawTintedRing(p, QPointF(16, 16), 12.5);
    p.setPen(linePen(1.6));
    for (int i = 0; i < 4; ++i) {
        p.save();
        p.translate(16, 16);
        p.rotate(90 * i);
        p.drawLine(QPointF(0, -10.2), QPointF(0, -8.4));
        p.restore();
    }
    p.setPen(linePen(2.2));
    p.drawLine(QPointF(16, 16), QPointF(16, 8.5));
    p.drawLine(QPointF(16, 16), QPointF(21, 19));
    p.setPen(Qt::NoPen);
    p.setBrush(kWarm);
    p.drawEllipse(QPointF(16, 16), 1.8, 1.8);
}

void drawZoom(QPainter &p)
{
    drawTintedRing(p, QPointF(13.5, 13.5), 9);
    p.setPen(linePen(3.6));
    p.drawLine(QPointF(20.3, 20.3), QPointF(28, 28));
    p.setPen(linePen(2.0));
    p.drawLine(QPointF(13.5, 9.5), QPointF(13.5, 17.5));
    p.drawLine(QPointF(9.5, 13.5), QPointF(17.5, 13.5));
}

bool saveBackground(const QString &file)
{
    // The panel is 134 x 152 logical pixels; drawn at 4x for 4K panels.
    const int scale = 4;
    QImage image(134 * scale, 152 * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    QLinearGradient shade(0, 0, 0, 152);
    shade.setColorAt(0, QColor(58, 62, 70, 150));
    shade.setColorAt(1, QColor(22, 24, 28, 170));
    p.setPen(Qt::NoPen);
    p.setBrush(shade);
    p.drawRoundedRect(QRectF(0, 0, 134, 152), 4, 4);
    // A faint divider between the two rows of tools.
    p.setPen(QPen(QColor(255, 255, 255, 28), 0.5));
    p.drawLine(QPointF(14, 76), QPointF(120, 76));
    p.end();
    return image.save(file, "PNG");
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("iconpainter %s\n", VELA_VERSION);
        return 0;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("Usage: iconpainter <output folder>\ndraws the toolbox and dialog icons into the folder\n");
        return 0;
    }
    QGuiApplication app(argc, argv);
    if (argc < 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: iconpainter <output folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    const bool ok = saveIcon(out.filePath("id_cap.png"), drawCapture)
                    && saveIcon(out.filePath("id_Spotlight.png"), drawSpotlight)
                    && saveIcon(out.filePath("id_clock.png"), drawClock)
                    && saveIcon(out.filePath("id_Zoom.png"), drawZoom)
                    && saveBackground(out.filePath("id_Backg.png"));
    return ok ? 0 : 1;
}
