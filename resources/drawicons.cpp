// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the program's images into a folder. Built on demand only:
//   cmake --build build --target draw_icons
//   QT_QPA_PLATFORM=offscreen build/resources/draw_icons resources
#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>
#include <QtMath>

#include <functional>

namespace {

const QColor Outline(0x33, 0x3b, 0x45);

QPen roundPen(const QColor& color, qreal width)
{
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

QPointF onCircle(QPointF centre, qreal radius, qreal degrees)
{
    const qreal a = qDegreesToRadians(degrees);
    return centre + QPointF(radius * qCos(a), -radius * qSin(a));
}

// Paints an image of the given size; draw() works in a design grid of grid × grid units.
QImage paint(QSize size, qreal grid, const std::function<void(QPainter&)>& draw)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(size.width() / grid, size.width() / grid);
    draw(p);
    return image;
}

// The icons are drawn on 48 × 48 pixels: the views show them at 16 and 24, a third and a half of that.
QImage icon48(const std::function<void(QPainter&)>& draw)
{
    return paint(QSize(48, 48), 48, draw);
}

void drawNew(QPainter& p)
{
    QPainterPath page;
    page.moveTo(8, 4);
    page.lineTo(28, 4);
    page.lineTo(38, 14);
    page.lineTo(38, 44);
    page.lineTo(8, 44);
    page.closeSubpath();
    p.setPen(roundPen(Outline, 2.5));
    p.setBrush(Qt::white);
    p.drawPath(page);

    QPainterPath fold;
    fold.moveTo(28, 4);
    fold.lineTo(28, 14);
    fold.lineTo(38, 14);
    fold.closeSubpath();
    p.setBrush(QColor(0xd3, 0xd9, 0xe0));
    p.drawPath(fold);

    p.setPen(roundPen(QColor(0xa8, 0xb2, 0xbd), 2.5));
    for (qreal y : {20.0, 26.0})
        p.drawLine(QPointF(14, y), QPointF(30, y));

    p.setPen(roundPen(QColor(0x1c, 0x6b, 0x2c), 2.5));
    p.setBrush(QColor(0x2e, 0xa0, 0x45));
    p.drawEllipse(QPointF(34, 34), 12, 12);
    p.setPen(roundPen(Qt::white, 4.5));
    p.drawLine(QPointF(34, 27.5), QPointF(34, 40.5));
    p.drawLine(QPointF(27.5, 34), QPointF(40.5, 34));
}

void drawRemove(QPainter& p)
{
    const QLineF strokes[] = {QLineF(12, 12, 36, 36), QLineF(36, 12, 12, 36)};
    p.setPen(roundPen(QColor(0x8e, 0x1b, 0x1b), 13));
    for (const QLineF& line : strokes)
        p.drawLine(line);
    p.setPen(roundPen(QColor(0xe5, 0x45, 0x3d), 8));
    for (const QLineF& line : strokes)
        p.drawLine(line);
}

// An arc around the centre, counter-clockwise from start over span degrees, ending in an arrowhead.
void arrowArc(QPainter& p, QPointF centre, qreal radius, qreal start, qreal span, const QColor& color)
{
    QPainterPath arc;
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    arc.arcMoveTo(box, start);
    arc.arcTo(box, start, span);
    p.setPen(roundPen(color.darker(140), 8.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);

    const qreal end = start + span;
    const qreal a = qDegreesToRadians(end);
    const QPointF tangent(-qSin(a), -qCos(a)); // direction of travel at the end of the arc
    const QPointF radial(qCos(a), -qSin(a));
    const QPointF base = onCircle(centre, radius, end);
    QPolygonF head;
    head << base + tangent * 8 << base + radial * 8 << base - radial * 8;
    p.setPen(roundPen(color.darker(140), 2.5));
    p.setBrush(color);
    p.drawPolygon(head);

    p.setPen(roundPen(color, 5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);
}

void drawUpdateTasks(QPainter& p)
{
    arrowArc(p, QPointF(24, 24), 15, 200, 125, QColor(0x2f, 0x80, 0xd0));
    arrowArc(p, QPointF(24, 24), 15, 20, 125, QColor(0x36, 0xa8, 0x52));
}

void drawHome(QPainter& p)
{
    p.setPen(roundPen(Outline, 2.5));
    p.setBrush(QColor(0x8a, 0x93, 0x9c));
    p.drawRect(QRectF(31, 7, 6, 12)); // chimney
    p.setBrush(QColor(0xf4, 0xe4, 0xc1));
    p.drawRect(QRectF(10, 22, 28, 22));
    p.setBrush(QColor(0x8b, 0x5a, 0x2b));
    p.drawRect(QRectF(20, 30, 8, 14));
    QPolygonF roof;
    roof << QPointF(3, 25) << QPointF(24, 5) << QPointF(45, 25);
    p.setBrush(QColor(0xd9, 0x4a, 0x3d));
    p.drawPolygon(roof);
}

void drawBadge(QPainter& p)
{
    QRadialGradient fill(QPointF(18, 16), 30);
    fill.setColorAt(0, QColor(0x5c, 0xa8, 0xf0));
    fill.setColorAt(1, QColor(0x1d, 0x5c, 0xab));
    p.setPen(roundPen(QColor(0x15, 0x45, 0x80), 2.5));
    p.setBrush(fill);
    p.drawEllipse(QPointF(24, 24), 21, 21);
}

void drawHelp(QPainter& p)
{
    drawBadge(p);
    // The question mark is a hook and a dot, so it stays sharp at any size.
    QPainterPath hook;
    hook.moveTo(16.5, 18.5);
    hook.cubicTo(16.5, 8.5, 32, 8.5, 31.5, 18);
    hook.cubicTo(31, 23.5, 24, 23.5, 24, 30);
    p.setPen(roundPen(Qt::white, 5.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(hook);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(24, 37.5), 3.4, 3.4);
}

void drawAbout(QPainter& p)
{
    drawBadge(p);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(24, 13.5), 3.6, 3.6);
    p.drawRoundedRect(QRectF(20.5, 20, 7, 18), 2, 2);
    p.drawRoundedRect(QRectF(17.5, 20, 8, 4), 1.5, 1.5);
    p.drawRoundedRect(QRectF(17.5, 34.5, 13, 4), 1.5, 1.5);
}

void drawOption(QPainter& p)
{
    const QPointF c(24, 24);
    const int teeth = 8;
    const qreal step = 360.0 / teeth;
    QPolygonF outline;
    for (int i = 0; i < teeth; ++i) {
        const qreal t = i * step + step / 2;
        outline << onCircle(c, 15.5, t - 0.31 * step) << onCircle(c, 21.5, t - 0.17 * step)
                << onCircle(c, 21.5, t + 0.17 * step) << onCircle(c, 15.5, t + 0.31 * step);
    }
    QPainterPath gear;
    gear.addPolygon(outline);
    gear.closeSubpath();
    gear.addEllipse(c, 6.5, 6.5);
    gear.setFillRule(Qt::OddEvenFill);

    QLinearGradient fill(0, 4, 0, 44);
    fill.setColorAt(0, QColor(0x9e, 0xa8, 0xb3));
    fill.setColorAt(1, QColor(0x5d, 0x67, 0x72));
    p.setPen(roundPen(QColor(0x2f, 0x36, 0x3e), 2.5));
    p.setBrush(fill);
    p.drawPath(gear);
}

// One link of a chain: a stadium centred on c, turned by -45 degrees.
void chainLink(QPainter& p, QPointF c, const QColor& color)
{
    p.save();
    p.translate(c);
    p.rotate(-45);
    const QRectF box(-13.5, -7, 27, 14);
    p.setBrush(Qt::NoBrush);
    p.setPen(roundPen(color.darker(170), 8));
    p.drawRoundedRect(box, 7, 7);
    p.setPen(roundPen(color, 4));
    p.drawRoundedRect(box, 7, 7);
    p.restore();
}

void drawLink(QPainter& p)
{
    const QColor blue(0x4f, 0x86, 0xc6);
    const QPointF lower(16.5, 31.5), upper(31.5, 16.5);
    chainLink(p, upper, blue);
    chainLink(p, lower, blue);
    // Lay the upper link over the lower one on one side, so they look interlocked.
    p.save();
    p.setClipRect(QRectF(24, 24, 12, 12));
    chainLink(p, upper, blue);
    p.restore();
}

void drawDate(QPainter& p)
{
    p.setPen(roundPen(Outline, 2.5));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(6, 8, 36, 36), 4, 4);
    QPainterPath band;
    band.addRoundedRect(QRectF(6, 8, 36, 11), 4, 4);
    band.addRect(QRectF(6, 14, 36, 5));
    band.setFillRule(Qt::WindingFill);
    p.setBrush(QColor(0xd9, 0x44, 0x3a));
    p.drawPath(band.simplified());
    p.setPen(roundPen(Outline, 4));
    p.drawLine(QPointF(16, 4), QPointF(16, 11));
    p.drawLine(QPointF(32, 4), QPointF(32, 11));

    p.setPen(Qt::NoPen);
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            const bool today = row == 1 && col == 2;
            p.setBrush(today ? QColor(0xd9, 0x44, 0x3a) : QColor(0x8f, 0x9a, 0xa6));
            p.drawRect(QRectF(11 + col * 10, 23 + row * 7, 6, 4.5));
        }
    }
}

void drawText(QPainter& p)
{
    QPainterPath t;
    t.addRect(QRectF(8, 6, 32, 8));    // bar
    t.addRect(QRectF(8, 6, 5, 13));    // left serif
    t.addRect(QRectF(35, 6, 5, 13));   // right serif
    t.addRect(QRectF(19.5, 6, 9, 34)); // stem
    t.addRect(QRectF(14, 37, 20, 5));  // foot
    t.setFillRule(Qt::WindingFill);
    p.setPen(roundPen(QColor(0x1a, 0x24, 0x30), 2));
    p.setBrush(QColor(0x3b, 0x4d, 0x63));
    p.drawPath(t.simplified());
}

void drawStateNew(QPainter& p)
{
    QPolygonF star;
    for (int i = 0; i < 10; ++i)
        star << onCircle(QPointF(24, 25.5), i % 2 ? 9.5 : 21.5, 90 + i * 36);
    QRadialGradient fill(QPointF(22, 20), 24);
    fill.setColorAt(0, QColor(0xff, 0xe8, 0x6a));
    fill.setColorAt(1, QColor(0xf5, 0x9b, 0x16));
    p.setPen(roundPen(QColor(0xb8, 0x6a, 0x05), 2.5));
    p.setBrush(fill);
    p.drawPolygon(star);
}

void drawStateRead(QPainter& p)
{
    QPainterPath tick;
    tick.moveTo(9, 25);
    tick.lineTo(20, 36);
    tick.lineTo(40, 12);
    p.setBrush(Qt::NoBrush);
    p.setPen(roundPen(QColor(0x6b, 0x74, 0x7d), 8));
    p.drawPath(tick);
    p.setPen(roundPen(QColor(0xa9, 0xb1, 0xb9), 4));
    p.drawPath(tick);
}

// The robot head of the tray icon, the logo and the application icon, on a 64 × 64 grid.
void drawRobot(QPainter& p)
{
    const QColor dark(0x1d, 0x2b, 0x3a);
    p.setPen(roundPen(QColor(0x4a, 0x55, 0x61), 3.5));
    p.drawLine(QPointF(32, 13), QPointF(32, 6));
    p.setPen(roundPen(QColor(0x9c, 0x2b, 0x1e), 1.5));
    p.setBrush(QColor(0xe8, 0x53, 0x3d));
    p.drawEllipse(QPointF(32, 6), 4.5, 4.5);

    p.setPen(roundPen(QColor(0x1f, 0x4c, 0x75), 2));
    p.setBrush(QColor(0x3a, 0x6f, 0x9f));
    p.drawRoundedRect(QRectF(2.5, 27, 8, 17), 3, 3);
    p.drawRoundedRect(QRectF(53.5, 27, 8, 17), 3, 3);

    QLinearGradient shell(0, 12, 0, 60);
    shell.setColorAt(0, QColor(0x62, 0xad, 0xeb));
    shell.setColorAt(1, QColor(0x2c, 0x68, 0x9f));
    p.setPen(roundPen(QColor(0x1f, 0x4c, 0x75), 2.5));
    p.setBrush(shell);
    p.drawRoundedRect(QRectF(8, 13, 48, 46), 13, 13);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe9, 0xf2, 0xfb));
    p.drawRoundedRect(QRectF(13.5, 21, 37, 31), 10, 10);

    p.setBrush(dark);
    p.drawEllipse(QPointF(24, 33), 6, 6.5);
    p.drawEllipse(QPointF(40, 33), 6, 6.5);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(26, 30.5), 2.2, 2.2);
    p.drawEllipse(QPointF(42, 30.5), 2.2, 2.2);

    p.setBrush(QColor(0xf4, 0x9a, 0x9a, 170));
    p.drawEllipse(QPointF(18, 43), 3, 2);
    p.drawEllipse(QPointF(46, 43), 3, 2);

    QPainterPath smile;
    smile.moveTo(25, 43);
    smile.quadTo(32, 49.5, 39, 43);
    p.setPen(roundPen(dark, 2.8));
    p.setBrush(Qt::NoBrush);
    p.drawPath(smile);
}

QImage robot(int size)
{
    return paint(QSize(size, size), 64, drawRobot);
}

// The banner of the about box. Its grey matches the label behind it, and the band from y 38 to 58
// right of x 215 stays empty for the version text laid over it.
QImage appLogo()
{
    QImage image(361, 121, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(211, 211, 211));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    p.save();
    p.translate(10, 10);
    p.scale(100 / 64.0, 100 / 64.0);
    drawRobot(p);
    p.restore();

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setBold(true);
    qreal pixels = 34;
    do {
        title.setPixelSize(int(pixels));
        pixels -= 1;
    } while (QFontMetricsF(title).horizontalAdvance(QStringLiteral("Vantrel Monitor")) > 228 && pixels > 10);
    p.setFont(title);
    p.setPen(QColor(0x1f, 0x4c, 0x75));
    p.drawText(QRectF(122, 4, 236, 34), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Vantrel Monitor"));

    p.setPen(QPen(QColor(0x2c, 0x68, 0x9f), 2));
    p.drawLine(QPointF(124, 64), QPointF(350, 64));

    QFont tagline(QStringLiteral("DejaVu Sans"));
    tagline.setPixelSize(14);
    p.setFont(tagline);
    p.setPen(QColor(0x3a, 0x44, 0x4f));
    p.drawText(QRectF(124, 70, 232, 44), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
               QStringLiteral("Watches web pages for links\nwith your keywords."));
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());

    const QList<QPair<QString, QImage>> images = {
        {"new.png", icon48(drawNew)},
        {"remove.png", icon48(drawRemove)},
        {"update_tasks.png", icon48(drawUpdateTasks)},
        {"home.png", icon48(drawHome)},
        {"help.png", icon48(drawHelp)},
        {"about.png", icon48(drawAbout)},
        {"option.png", icon48(drawOption)},
        {"link.png", icon48(drawLink)},
        {"date.png", icon48(drawDate)},
        {"text.png", icon48(drawText)},
        {"state_new.png", icon48(drawStateNew)},
        {"state_read.png", icon48(drawStateRead)},
        {"64vantrel_robot.png", robot(64)},
        {"app_logo.png", appLogo()},
        {"vantrel-monitor.png", robot(256)},
        {"vantrel-monitor-48.png", robot(48)},
    };

    QTextStream err(stderr);
    int failed = 0;
    for (const auto& [name, image] : images) {
        if (!image.save(out.filePath(name), "PNG")) {
            err << "cannot write " << out.filePath(name) << '\n';
            ++failed;
        }
    }
    return failed ? 1 : 0;
}
