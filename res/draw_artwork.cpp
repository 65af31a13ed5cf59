// Draws the program's pictures and writes them as a C++ source: the banner (690 x 109, a 32-bit
// device-independent bitmap, bottom-up, as bitmap resources are stored) and the application icon
// (32 x 32 PNG). Run at build time, so the artwork can be redrawn by editing this file.
//
// Usage: draw_artwork OUTPUT.cpp [PREVIEW_FOLDER]
#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

QPainterPath Shield(QRectF box) {
    QPainterPath path;
    const qreal w = box.width(), h = box.height(), x = box.left(), y = box.top();
    path.moveTo(x + w / 2, y);
    path.cubicTo(x + w * 0.72, y + h * 0.10, x + w * 0.88, y + h * 0.12, x + w, y + h * 0.12);
    path.cubicTo(x + w, y + h * 0.55, x + w * 0.80, y + h * 0.84, x + w / 2, y + h);
    path.cubicTo(x + w * 0.20, y + h * 0.84, x, y + h * 0.55, x, y + h * 0.12);
    path.cubicTo(x + w * 0.12, y + h * 0.12, x + w * 0.28, y + h * 0.10, x + w / 2, y);
    path.closeSubpath();
    return path;
}

void DrawMark(QPainter& p, QRectF box, qreal stroke) {
    QLinearGradient fill(box.topLeft(), box.bottomRight());
    fill.setColorAt(0, QColor(0x5f, 0xd3, 0xf3));
    fill.setColorAt(1, QColor(0x1c, 0x6e, 0xc9));
    p.setPen(QPen(QColor(255, 255, 255, 230), stroke));
    p.setBrush(fill);
    p.drawPath(Shield(box));
    QPainterPath check;
    check.moveTo(box.left() + box.width() * 0.27, box.top() + box.height() * 0.50);
    check.lineTo(box.left() + box.width() * 0.45, box.top() + box.height() * 0.68);
    check.lineTo(box.left() + box.width() * 0.76, box.top() + box.height() * 0.32);
    p.setPen(QPen(Qt::white, stroke * 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(check);
}

QImage DrawBanner() {
    QImage image(690, 109, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 690, 109);
    sky.setColorAt(0, QColor(0x0b, 0x1f, 0x3a));
    sky.setColorAt(0.6, QColor(0x12, 0x3e, 0x6b));
    sky.setColorAt(1, QColor(0x17, 0x6b, 0x8f));
    p.fillRect(image.rect(), sky);
    // A faint lattice of hexagons: cells of a file system being walked.
    p.setPen(QPen(QColor(255, 255, 255, 22), 1));
    for (int row = 0; row < 6; ++row) {
        for (int col = 0; col < 30; ++col) {
            qreal cx = 250 + col * 26 + (row % 2) * 13, cy = row * 22;
            QPolygonF hex;
            for (int k = 0; k < 6; ++k) {
                qreal a = (60.0 * k + 30) * 3.14159265 / 180;
                hex << QPointF(cx + 12 * std::cos(a), cy + 12 * std::sin(a));
            }
            p.drawPolygon(hex);
        }
    }
    QRadialGradient glow(70, 54, 80);
    glow.setColorAt(0, QColor(0x5f, 0xd3, 0xf3, 90));
    glow.setColorAt(1, QColor(0x5f, 0xd3, 0xf3, 0));
    p.fillRect(image.rect(), glow);
    DrawMark(p, QRectF(36, 14, 68, 82), 2.0);

    QFont title;
    title.setFamilies({QStringLiteral("Sans Serif"), QStringLiteral("WenQuanYi Micro Hei")});
    title.setPixelSize(40);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRectF(126, 12, 540, 50), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Velmora"));
    QFont subtitle = title;
    subtitle.setBold(false);
    subtitle.setPixelSize(17);
    p.setFont(subtitle);
    p.setPen(QColor(0xcf, 0xe8, 0xf7));
    p.drawText(QRectF(128, 62, 540, 30), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("可执行文件数字签名检查  ·  找出签名不可信的程序"));
    p.setPen(QPen(QColor(0x5f, 0xd3, 0xf3), 2));
    p.drawLine(QPointF(128, 60), QPointF(300, 60));
    return image;
}

QImage DrawIcon() {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0b, 0x1f, 0x3a));
    p.drawRoundedRect(QRectF(0.5, 0.5, 31, 31), 6, 6);
    DrawMark(p, QRectF(6, 4, 20, 24), 1.0);
    return image;
}

QByteArray Dib32(const QImage& source) {
    QImage image = source.convertToFormat(QImage::Format_RGB32);
    QByteArray out;
    auto put32 = [&](quint32 v) {
        for (int i = 0; i < 4; ++i)
            out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto put16 = [&](quint16 v) {
        out.append(static_cast<char>(v & 0xFF));
        out.append(static_cast<char>(v >> 8));
    };
    put32(40);
    put32(static_cast<quint32>(image.width()));
    put32(static_cast<quint32>(image.height())); // positive: bottom-up rows
    put16(1);
    put16(32);
    put32(0); // no compression
    put32(static_cast<quint32>(image.width() * image.height() * 4));
    put32(3780);
    put32(3780);
    put32(0);
    put32(0);
    for (int y = image.height() - 1; y >= 0; --y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            out.append(static_cast<char>(qBlue(row[x])));
            out.append(static_cast<char>(qGreen(row[x])));
            out.append(static_cast<char>(qRed(row[x])));
            out.append(static_cast<char>(0));
        }
    }
    return out;
}

void WriteArray(FILE* f, const char* name, const QByteArray& bytes) {
    std::fprintf(f, "extern const unsigned char %s[];\nconst unsigned char %s[] = {", name, name);
    for (int i = 0; i < bytes.size(); ++i)
        std::fprintf(f, "%s%u,", i % 32 == 0 ? "\n" : "", static_cast<unsigned char>(bytes[i]));
    std::fprintf(f, "\n};\nextern const unsigned int %sSize;\nconst unsigned int %sSize = %d;\n\n", name, name,
                 static_cast<int>(bytes.size()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: draw_artwork OUTPUT.cpp [PREVIEW_FOLDER]\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    QImage banner = DrawBanner();
    QImage icon = DrawIcon();
    QByteArray iconPng;
    QBuffer buffer(&iconPng);
    buffer.open(QIODevice::WriteOnly);
    icon.save(&buffer, "PNG");
    if (argc > 2) {
        banner.save(QString::fromLocal8Bit(argv[2]) + "/banner.png");
        icon.save(QString::fromLocal8Bit(argv[2]) + "/icon.png");
    }
    QString tmp = QString::fromLocal8Bit(argv[1]) + ".tmp";
    FILE* f = std::fopen(tmp.toLocal8Bit().constData(), "w");
    if (!f)
        return 1;
    std::fprintf(f, "// Generated by res/draw_artwork.cpp at build time. Do not edit.\n\n");
    WriteArray(f, "kBannerDib", Dib32(banner));
    WriteArray(f, "kIconPng", iconPng);
    if (std::fclose(f) != 0)
        return 1;
    return QFile::exists(argv[1]) && !QFile::remove(argv[1]) ? 1 : (QFile::rename(tmp, argv[1]) ? 0 : 1);
}
