// Renders an SVG picture to a square PNG: the fixed-size icon that icon
// themes want beside the scalable one, made at build time from the same
// drawing. Needs no display: it runs on Qt's offscreen platform.
// Usage: render_icon INPUT.svg SIZE OUTPUT.png
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "Usage: %s INPUT.svg SIZE OUTPUT.png\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString input = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[3]);
    bool numeric = false;
    const int size = QString::fromLocal8Bit(argv[2]).toInt(&numeric);
    // Icon themes go up to 512 pixels.
    constexpr int kMaxSize = 512;
    if (!numeric || size < 1 || size > kMaxSize) {
        std::fprintf(stderr, "%s: size must be 1..%d pixels\n", argv[0], kMaxSize);
        return 2;
    }

    QSvgRenderer renderer(input);
    if (!renderer.isValid()) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    if (!image.save(output, "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[3]);
        return 1;
    }
    return 0;
}
