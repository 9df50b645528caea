#include "server/ui/history_dlg.h"

#include "common/format_time.h"
#include "server/model/event_codes.h"
#include "server/model/point_base.h"
#include "server/storage/day_journal.h"
#include "server/storage/register_file.h"
#include "common/dialog_units.h"
#include "server/ui/report_list.h"

#include <QComboBox>
#include <QDate>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QUrl>

#include <algorithm>
#include <array>

namespace {

const QString kServiceName = QStringLiteral("Сервис");
constexpr std::array<const char16_t*, 12> kMonths = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                                     u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
constexpr int kFirstYear = 1900;
// Export lines are gathered up to this many characters between writes.
constexpr qsizetype kExportChunk = 32768;

// The register for names only: read without the repairs the server's own
// load makes to a damaged file (those are the server's business at start-up).
void ReadRegister(CPointBase& points)
{
    QFile file(RegisterPath(points));
    if (!file.open(QIODevice::ReadOnly))
        return;
    RegisterParseResult parsed = ParseRegister(file.readAll());
    auto& c = parsed.contents;
    const std::size_t n = c.serials.size();
    c.names.resize(n);
    c.descriptions.resize(n);
    c.phones.resize(n);
    points.ReplaceRegister(std::move(c.serials), std::move(c.names), std::move(c.descriptions), std::move(c.phones));
}

bool WriteUtf16(QFile& file, const QString& text)
{
    // UTF-16 little-endian, the order the records keep in memory.
    const auto bytes = static_cast<qint64>(text.size()) * 2;
    return file.write(reinterpret_cast<const char*>(text.utf16()), bytes) == bytes;
}

} // namespace

CHistoryDlg::CHistoryDlg(const CClock& clock, QWidget* parent) : QDialog(parent), clock_(clock)
{
    openFile = [](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
    CreateControls();

    const CPointBase points(clock_);
    const QStringList names = QDir(points.baseFolder()).entryList({QStringLiteral("*.base")}, QDir::Files);
    dateBox_->addItems(DateList(names));
    if (dateBox_->count() > 0)
        dateBox_->setCurrentIndex(0);
    connect(dateBox_, &QComboBox::currentIndexChanged, this, &CHistoryDlg::LoadDay);
    LoadDay();
}

void CHistoryDlg::CreateControls()
{
    setObjectName(QStringLiteral("historyDlg"));
    setWindowTitle(QStringLiteral("Журнал событий"));
    setFixedSize(DialogRect(this, 0, 0, 482, 321).size());

    dateBox_ = new QComboBox(this);
    dateBox_->setObjectName(QStringLiteral("dateBox"));
    dateBox_->setEditable(false);
    PlaceControl(dateBox_, 1017, 7, 7, 145, 14);
    auto* save = MakePictureButton(this, QStringLiteral("Сохранить"), QStringLiteral("saveButton"), 3,
                                   QStringLiteral(":/server/buttons/save.svg"),
                                   QStringLiteral(":/server/buttons/save_hot.svg"), QRect(306, 7, 80, 25));
    auto* cancel = MakePictureButton(this, QStringLiteral("Отмена"), QStringLiteral("cancelButton"), 2,
                                     QStringLiteral(":/server/buttons/cancel.svg"),
                                     QStringLiteral(":/server/buttons/cancel_hot.svg"), QRect(395, 7, 80, 25));
    connect(save, &QPushButton::clicked, this, &CHistoryDlg::ExportDay);
    connect(cancel, &QPushButton::clicked, this, &CHistoryDlg::reject);

    eventList_ = MakeReportList(this, QStringLiteral("eventList"), 1005, DialogRect(this, 7, 39, 467, 275));
    events_.SetIcons(EventImageList());
    eventList_->setModel(&events_);
    SetColumnShares(eventList_, {20, 58, 12, 10});
}

QStringList CHistoryDlg::DateList(const QStringList& fileNames)
{
    // Day files are named by FormatTime's "%d%b%Y" of their date and "Day.base".
    static const QRegularExpression dayFile(
        QStringLiteral("^([0-9]{2})(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)([0-9]{4})Day\\.base$"));
    struct Day
    {
        QDate date;
        QString text;
    };
    std::vector<Day> days;
    for (const QString& name : fileNames) {
        const QRegularExpressionMatch match = dayFile.match(name);
        if (!match.hasMatch())
            continue;
        const int day = match.captured(1).toInt();
        const QString monthText = match.captured(2);
        const int month = static_cast<int>(
            std::find_if(kMonths.begin(), kMonths.end(), [&](const char16_t* m) { return monthText == QStringView(m); })
            - kMonths.begin() + 1);
        const int year = match.captured(3).toInt();
        const QDate date(year, month, day);
        if (year < kFirstYear || !date.isValid())
            continue; // a name like 31Feb2011Day.base hides no other day
        days.push_back({date, match.captured(1) + QLatin1Char(' ') + monthText + QLatin1Char(' ') + match.captured(3)});
    }
    std::stable_sort(days.begin(), days.end(), [](const Day& a, const Day& b) { return a.date > b.date; });
    QStringList dates;
    for (const Day& day : days)
        dates << day.text;
    return dates;
}

QString CHistoryDlg::SelectedDayFile(const CPointBase& points) const
{
    QString date = dateBox_->currentText();
    date.remove(QLatin1Char(' '));
    if (date.isEmpty())
        return QString();
    return points.baseFolder() + QLatin1Char('/') + date + QStringLiteral("Day.base");
}

void CHistoryDlg::LoadDay()
{
    events_.Clear();
    CPointBase points(clock_);
    std::vector<T_EVENT> records;
    const QString path = SelectedDayFile(points);
    if (!path.isEmpty())
        CDayJournal::ReadDayFile(path, records);
    ReadRegister(points);
    events_.Reserve(records.size());
    for (const T_EVENT& event : records) {
        if (event.serial == 0) {
            events_.InsertTop(kServiceName, event);
            continue;
        }
        bool listed = false;
        points.ForEachIndex(event.serial, [&](int index) {
            events_.InsertTop(points.DisplayName(index), event);
            listed = true;
        });
        // A point deleted since is shown by its serial number.
        if (!listed)
            events_.InsertTop(QString(), event);
    }
    events_.Flush();
}

QString CHistoryDlg::ExportLine(const T_EVENT& event, const QString& name)
{
    return QStringLiteral("%1 %2 %3 \t%4\r\n")
        .arg(FormatTimeOrEmpty(event.time, "%d-%b-%Y"), FormatTimeOrEmpty(event.time, "%H:%M"), name,
             EventText(event.code).text);
}

void CHistoryDlg::ExportDay()
{
    CPointBase points(clock_);
    std::vector<T_EVENT> records;
    const QString dayFile = SelectedDayFile(points);
    if (!dayFile.isEmpty())
        CDayJournal::ReadDayFile(dayFile, records);
    ReadRegister(points);

    QFileDialog dialog(this, QString(), QString(), QStringLiteral("Text file (*.txt)"));
    dialog.setObjectName(QStringLiteral("exportDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().front();

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    QString chunk;
    bool written = true;
    for (const T_EVENT& event : records) {
        chunk += ExportLine(event, points.DisplayName(points.FindLastPoint(event.serial)));
        if (chunk.size() >= kExportChunk) {
            written = written && WriteUtf16(file, chunk);
            chunk.clear();
        }
    }
    written = written && WriteUtf16(file, chunk);
    file.close();
    if (written && openFile)
        openFile(path);
}
