#include "server/ui/report_list.h"

#include "common/dialog_units.h"
#include "server/model/event_codes.h"

#include <QHeaderView>
#include <QPushButton>
#include <QTableView>

#include <array>

namespace {

constexpr std::array<const char16_t*, ICON_COUNT> kIconFiles = {
    u":/server/icons/check.svg",   u":/server/icons/cross.svg",    u":/server/icons/exclamation.svg",
    u":/server/icons/plus.svg",    u":/server/icons/info.svg",     u":/server/icons/question.svg",
    u":/server/icons/refresh.svg", u":/server/icons/minus.svg",    u":/server/icons/stop_hand.svg",
    u":/server/icons/warning.svg",
};

constexpr int kPictureSize = 24;
constexpr int kClientWidthReserve = 16;

} // namespace

std::vector<QIcon> EventImageList()
{
    std::vector<QIcon> icons;
    for (const char16_t* file : kIconFiles)
        icons.emplace_back(QString::fromUtf16(file));
    return icons;
}

QTableView* MakeReportList(QWidget* parent, const QString& name, int id, QRect rect)
{
    auto* view = new QTableView(parent);
    view->setObjectName(name);
    view->setProperty("controlId", id);
    view->setGeometry(rect);
    view->setShowGrid(false);
    view->setWordWrap(false);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setIconSize(QSize(16, 16));
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setStretchLastSection(false);
    return view;
}

void SetColumnShares(QTableView* view, std::initializer_list<int> percents)
{
    const int width = view->contentsRect().width() - kClientWidthReserve;
    int column = 0;
    for (int percent : percents)
        view->setColumnWidth(column++, width * percent / 100);
}

QPushButton* MakePictureButton(QWidget* parent, const QString& text, const QString& name, int id,
                               const QString& picture, const QString& hotPicture, QRect units)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    QIcon icon(picture);
    icon.addFile(hotPicture, QSize(), QIcon::Active);
    button->setIcon(icon);
    button->setIconSize(QSize(kPictureSize, kPictureSize));
    button->setCursor(Qt::PointingHandCursor);
    button->setAutoDefault(false);
    PlaceControl(button, id, units.x(), units.y(), units.width(), units.height());
    return button;
}
