// Draws the updater's images: the calculator icon (16 and 64 pixels), the folder icon of the
// browse button (16 and 32 pixels) and the program icon "Updater.ico" (calculator with an
// update arrow, 16 to 256 pixels). Run by hand after a change: make_artwork <images folder>.
#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

const QColor kBody(0x2f, 0x3a, 0x4a);
const QColor kBodyEdge(0x1c, 0x24, 0x30);
const QColor kScreen(0xd4, 0xe8, 0xd6);
const QColor kKey(0x8a, 0x97, 0xa8);
const QColor kAccent(0x00, 0x96, 0xd6);
const QColor kFolder(0xf0, 0xc0, 0x4c);
const QColor kFolderBack(0xd9, 0xa4, 0x2e);
const QColor kFolderEdge(0xa8, 0x7a, 0x1c);

QImage blank(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// Drawn on a 64-unit grid and scaled; at 16 pixels the keys merge into three rows of blocks,
// which still reads as a calculator.
void drawCalculator(QPainter& p, int size)
{
    p.save();
    p.scale(size / 64.0, size / 64.0);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kBodyEdge, size <= 16 ? 4 : 2));
    p.setBrush(kBody);
    p.drawRoundedRect(QRectF(11, 3, 42, 58), 6, 6);
    p.setPen(Qt::NoPen);
    p.setBrush(kScreen);
    p.drawRoundedRect(QRectF(16, 8, 32, 16), 2, 2);
    if (size > 16) {
        p.setBrush(kBodyEdge);
        p.drawRect(QRectF(20, 17, 24, 3)); // a line of text on the screen
    }
    const int rows = size <= 16 ? 2 : 4;
    const double keyH = size <= 16 ? 10 : 5.5;
    const double gap = size <= 16 ? 4 : 2.8;
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < 3; ++col) {
            const bool accent = row == rows - 1 && col == 2;
            p.setBrush(accent ? kAccent : kKey);
            p.drawRoundedRect(QRectF(16 + col * 11.5, 28 + row * (keyH + gap), 9, keyH), 1.5, 1.5);
        }
    }
    p.restore();
}

void drawFolder(QPainter& p, int size)
{
    p.save();
    p.scale(size / 32.0, size / 32.0);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kFolderEdge, size <= 16 ? 2 : 1.2));
    p.setBrush(kFolderBack);
    QPainterPath back;
    back.moveTo(2, 7);
    back.lineTo(2, 5);
    back.quadTo(2, 4, 3, 4);
    back.lineTo(11, 4);
    back.lineTo(14, 7);
    back.lineTo(29, 7);
    back.quadTo(30, 7, 30, 8);
    back.lineTo(30, 27);
    back.lineTo(2, 27);
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(kFolder);
    p.drawRoundedRect(QRectF(2, 11, 28, 16), 1, 1);
    p.restore();
}

// A round blue badge with a downward arrow: firmware going onto the calculator.
void drawUpdateBadge(QPainter& p, int size)
{
    p.save();
    p.scale(size / 64.0, size / 64.0);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 3));
    p.setBrush(kAccent);
    p.drawEllipse(QRectF(34, 34, 28, 28));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    QPainterPath arrow;
    arrow.moveTo(45, 39);
    arrow.lineTo(51, 39);
    arrow.lineTo(51, 48);
    arrow.lineTo(56, 48);
    arrow.lineTo(48, 57);
    arrow.lineTo(40, 48);
    arrow.lineTo(45, 48);
    arrow.closeSubpath();
    p.drawPath(arrow);
    p.restore();
}

QImage calculator(int size, bool badge)
{
    QImage image = blank(size);
    QPainter p(&image);
    drawCalculator(p, size);
    if (badge)
        drawUpdateBadge(p, size);
    return image;
}

QImage folder(int size)
{
    QImage image = blank(size);
    QPainter p(&image);
    drawFolder(p, size);
    return image;
}

bool save(const QImage& image, const QString& path)
{
    if (image.save(path))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

void putLittle(QByteArray& out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

// An .ico with one PNG-coded image per size, so that Windows picks the closest one and each
// small size keeps its own, simpler drawing. Qt's own ico writer stores one image only.
bool saveIcon(const QString& path)
{
    const int sizes[] = {16, 32, 48, 256};
    QList<QByteArray> images;
    for (int size : sizes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        calculator(size, size > 16).save(&buffer, "PNG");
        images << png;
    }
    QByteArray out;
    putLittle(out, 0, 2); // reserved
    putLittle(out, 1, 2); // icon
    putLittle(out, images.size(), 2);
    quint32 offset = 6 + 16 * images.size();
    for (int i = 0; i < images.size(); ++i) {
        const int size = sizes[i] >= 256 ? 0 : sizes[i]; // 0 stands for 256
        putLittle(out, size, 1);
        putLittle(out, size, 1);
        putLittle(out, 0, 2);  // no palette, reserved
        putLittle(out, 1, 2);  // planes
        putLittle(out, 32, 2); // bits per pixel
        putLittle(out, images[i].size(), 4);
        putLittle(out, offset, 4);
        offset += images[i].size();
    }
    for (const QByteArray& png : images)
        out += png;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(out) == out.size())
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_artwork <images folder>\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]) + "/";
    const bool ok = save(calculator(16, false), dir + "CalculatorIconX16.png") &&
                    save(calculator(64, false), dir + "CalculatorIconX64.png") &&
                    save(calculator(128, false), dir + "CalculatorIconX128.png") &&
                    save(calculator(256, false), dir + "CalculatorIconX256.png") &&
                    save(folder(16), dir + "varFolder_16x16.png") &&
                    save(folder(32), dir + "varFolder_32x32.png") && saveIcon(dir + "Updater.ico");
    return ok ? 0 : 1;
}
