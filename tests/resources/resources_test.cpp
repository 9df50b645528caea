#include <QColor>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QSvgRenderer>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <set>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

struct Picture {
    const char *path;
    QSize size;
};

constexpr QSize kListIconSize{16, 16};
constexpr QSize kButtonSize{24, 24};
constexpr QSize kLargeButtonSize{32, 32};
constexpr QSize kAppIconSize{48, 48};
constexpr QSize kBackgroundSize{845, 528};

// The ten pictures of the server's image list; the position is the event's icon value.
const std::array<const char *, 10> kListIcons = {
    ":/server/icons/check.svg",    ":/server/icons/cross.svg",     ":/server/icons/exclamation.svg",
    ":/server/icons/plus.svg",     ":/server/icons/info.svg",      ":/server/icons/question.svg",
    ":/server/icons/refresh.svg",  ":/server/icons/minus.svg",     ":/server/icons/stop_hand.svg",
    ":/server/icons/warning.svg",
};

// Every other picture with the size it is drawn for.
const std::vector<Picture> kPictures = {
    {":/server/app_icon.svg", kAppIconSize},
    {":/server/buttons/settings.svg", kButtonSize},
    {":/server/buttons/settings_hot.svg", kButtonSize},
    {":/server/buttons/cancel.svg", kButtonSize},
    {":/server/buttons/cancel_hot.svg", kButtonSize},
    {":/server/buttons/ok.svg", kButtonSize},
    {":/server/buttons/ok_hot.svg", kButtonSize},
    {":/server/buttons/delete.svg", kButtonSize},
    {":/server/buttons/delete_hot.svg", kButtonSize},
    {":/server/buttons/send_sms.svg", kButtonSize},
    {":/server/buttons/send_sms_hot.svg", kButtonSize},
    {":/server/buttons/save.svg", kButtonSize},
    {":/server/buttons/save_hot.svg", kButtonSize},
    {":/tool/app_icon.svg", kAppIconSize},
    {":/tool/background.svg", kBackgroundSize},
    {":/tool/pictures/up.svg", kListIconSize},
    {":/tool/pictures/down.svg", kListIconSize},
    {":/tool/pictures/checked.svg", kListIconSize},
    {":/tool/pictures/unchecked.svg", kListIconSize},
    {":/tool/buttons/port.svg", kButtonSize},
    {":/tool/buttons/port_hot.svg", kButtonSize},
    {":/tool/buttons/write.svg", kButtonSize},
    {":/tool/buttons/write_hot.svg", kButtonSize},
    {":/tool/buttons/clear_keys.svg", kButtonSize},
    {":/tool/buttons/clear_keys_hot.svg", kButtonSize},
    {":/tool/buttons/cancel.svg", kButtonSize},
    {":/tool/buttons/cancel_hot.svg", kButtonSize},
    {":/tool/buttons/rs232_setup.svg", kLargeButtonSize},
    {":/tool/buttons/rs232_setup_hot.svg", kLargeButtonSize},
    {":/tool/buttons/ok.svg", kLargeButtonSize},
    {":/tool/buttons/ok_hot.svg", kLargeButtonSize},
};

std::vector<Picture> allPictures()
{
    std::vector<Picture> all;
    for (const char *path : kListIcons)
        all.push_back({path, kListIconSize});
    all.insert(all.end(), kPictures.begin(), kPictures.end());
    return all;
}

QString str(const char *path)
{
    return QString::fromLatin1(path);
}

QImage render(const QString &path, QSize size)
{
    QSvgRenderer renderer(path);
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    return image;
}

int coveredPixels(const QImage &image)
{
    int covered = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 128)
                ++covered;
    return covered;
}

double meanLightnessOfCovered(const QImage &image)
{
    double sum = 0;
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) > 128) {
                sum += qGray(p);
                ++count;
            }
        }
    return count == 0 ? 0 : sum / count;
}

bool differ(QRgb a, QRgb b, int tolerance)
{
    return std::abs(qRed(a) - qRed(b)) > tolerance || std::abs(qGreen(a) - qGreen(b)) > tolerance
        || std::abs(qBlue(a) - qBlue(b)) > tolerance || std::abs(qAlpha(a) - qAlpha(b)) > tolerance;
}

// Collects what the SVG module complains about while a document is parsed.
QStringList g_svgMessages;

void collectSvgMessages(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    if (context.category != nullptr && QString::fromLatin1(context.category).startsWith(u"qt.svg"))
        g_svgMessages << message;
}

} // namespace

TEST(Resources, EveryListedPictureIsPresentAtItsIntendedSize)
{
    for (const Picture &picture : allPictures()) {
        SCOPED_TRACE(picture.path);
        const QString path = str(picture.path);
        ASSERT_TRUE(QFile::exists(path));
        g_svgMessages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectSvgMessages);
        QSvgRenderer renderer(path);
        qInstallMessageHandler(previous);
        EXPECT_TRUE(renderer.isValid());
        EXPECT_TRUE(g_svgMessages.isEmpty()) << qPrintable(g_svgMessages.join(u'\n'));
        EXPECT_EQ(renderer.defaultSize(), picture.size);
    }
}

TEST(Resources, NoPictureIsLeftOutOfTheList)
{
    std::set<QString> listed;
    for (const Picture &picture : allPictures())
        listed.insert(str(picture.path));
    std::set<QString> found;
    for (const QString &root : {u":/server"_s, u":/tool"_s}) {
        QDirIterator it(root, {u"*.svg"_s}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            found.insert(it.next());
    }
    EXPECT_EQ(found, listed);
}

TEST(Resources, EveryPictureDrawsSomething)
{
    for (const Picture &picture : allPictures()) {
        SCOPED_TRACE(picture.path);
        const QImage image = render(str(picture.path), picture.size);
        const int pixels = image.width() * image.height();
        // A picture that covers less than a tenth of its square would be lost on a button.
        EXPECT_GT(coveredPixels(image), pixels / 10);
    }
}

TEST(Resources, AppIconsReadAtEveryWindowIconSize)
{
    for (const char *path : {":/server/app_icon.svg", ":/tool/app_icon.svg"}) {
        for (const int side : {16, 32, 48}) {
            SCOPED_TRACE(std::string(path) + " at " + std::to_string(side));
            const QImage image = render(str(path), QSize(side, side));
            EXPECT_GT(coveredPixels(image), side * side / 2);
        }
    }
}

TEST(Resources, ListIconsAreSquareAndDistinct)
{
    std::vector<QImage> images;
    for (const char *path : kListIcons) {
        QSvgRenderer renderer(str(path));
        const QSize size = renderer.defaultSize();
        EXPECT_EQ(size.width(), size.height()) << path;
        images.push_back(render(str(path), kListIconSize));
    }
    constexpr int kTolerance = 40;
    constexpr int kMinDifferentPixels = 16 * 16 / 8;
    for (std::size_t i = 0; i < images.size(); ++i)
        for (std::size_t j = i + 1; j < images.size(); ++j) {
            int different = 0;
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x)
                    if (differ(images[i].pixel(x, y), images[j].pixel(x, y), kTolerance))
                        ++different;
            EXPECT_GE(different, kMinDifferentPixels) << kListIcons[i] << " and " << kListIcons[j];
        }
}

TEST(Resources, HighlightedButtonsAreTheSameDrawingInDarkerTones)
{
    for (const Picture &picture : allPictures()) {
        const QString hot = str(picture.path);
        if (!hot.endsWith(u"_hot.svg"))
            continue;
        QString normal = hot;
        normal.replace(u"_hot.svg"_s, u".svg"_s);
        SCOPED_TRACE(qPrintable(hot));
        const QImage hotImage = render(hot, picture.size);
        const QImage normalImage = render(normal, picture.size);
        const int hotCovered = coveredPixels(hotImage);
        const int normalCovered = coveredPixels(normalImage);
        EXPECT_NEAR(hotCovered, normalCovered, normalCovered / 50 + 1);
        EXPECT_LT(meanLightnessOfCovered(hotImage) + 15, meanLightnessOfCovered(normalImage));
    }
}

TEST(Resources, BackgroundIsPaleAndLowInContrast)
{
    const QImage image = render(u":/tool/background.svg"_s, kBackgroundSize);
    int darkest = 255;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            ASSERT_EQ(qAlpha(p), 255) << x << "," << y;
            darkest = std::min(darkest, qGray(p));
        }
    // Black text must stay readable anywhere on it.
    EXPECT_GE(darkest, 190);
}

// The background is drawn as an endless board of which the view box is one period. Seen
// through a view box moved by half a tile, it must therefore look exactly like four tiles
// laid edge to edge and cut at that place: wherever the tiles meet, the drawing goes on
// as if there were no edge.
TEST(Resources, BackgroundTilesWithoutSeams)
{
    const QImage tile = render(u":/tool/background.svg"_s, kBackgroundSize);
    const int w = tile.width();
    const int h = tile.height();

    // Where the moved view box reaches past the drawn board colour, the board shows through.
    std::map<QRgb, int> counts;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ++counts[tile.pixel(x, y)];
    const QRgb boardColour =
        std::max_element(counts.begin(), counts.end(), [](const auto &a, const auto &b) {
            return a.second < b.second;
        })->first;

    const int dx = w / 2;
    const int dy = h / 2;
    QSvgRenderer renderer(u":/tool/background.svg"_s);
    renderer.setViewBox(QRectF(dx, dy, w, h));
    QImage moved(kBackgroundSize, QImage::Format_ARGB32);
    moved.fill(boardColour);
    QPainter painter(&moved);
    renderer.render(&painter);
    painter.end();

    constexpr int kTolerance = 8;
    int different = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (differ(moved.pixel(x, y), tile.pixel((x + dx) % w, (y + dy) % h), kTolerance))
                ++different;
    EXPECT_LE(different, w * h / 1000);
}
