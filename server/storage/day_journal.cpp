#include "server/storage/day_journal.h"

#include "common/clock.h"
#include "common/format_time.h"
#include "server/model/point_base.h"
#include "server/storage/file_aside.h"

#include <QFile>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr qint64 kCountSize = 4; // u32 record count at the start of the file
constexpr qint64 kRecordSize = sizeof(T_EVENT);

bool WriteAll(int fd, const void* data, std::size_t size, off_t offset)
{
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, bytes, size, offset);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= static_cast<std::size_t>(written);
        offset += written;
    }
    return true;
}

} // namespace

CDayJournal::CDayJournal(CPointBase& base) : base_(base), todayMoment_(base.Clock().Now()) {}

CDayJournal::~CDayJournal() { CloseToday(); }

QString CDayJournal::DayFileName(const QString& folder, std::int64_t moment)
{
    QString date;
    try {
        date = FormatTime(moment, "%d%b%Y");
    } catch (const std::invalid_argument&) {
    }
    return folder + QLatin1Char('/') + date + QStringLiteral("Day.base");
}

QString CDayJournal::TodayFile() const { return DayFileName(base_.baseFolder(), todayMoment_); }

bool CDayJournal::ReadDayFile(const QString& path, std::vector<T_EVENT>& events)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    events.clear();
    const qint64 size = file.size();
    if (size < kCountSize)
        return true;
    // The records the file holds decide, not the count it declares: a count
    // beyond the file is not believed, and records written after the count
    // was last updated are not lost.
    const qint64 records = (size - kCountSize) / kRecordSize;
    events.resize(static_cast<std::size_t>(records));
    file.seek(kCountSize);
    const qint64 wanted = records * kRecordSize;
    const qint64 got = file.read(reinterpret_cast<char*>(events.data()), wanted);
    events.resize(static_cast<std::size_t>(std::max<qint64>(got, 0) / kRecordSize));
    return true;
}

bool CDayJournal::WriteDayFile(const QString& path, const std::vector<T_EVENT>& events)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const auto count = static_cast<std::uint32_t>(events.size());
    const qint64 bytes = static_cast<qint64>(events.size()) * kRecordSize;
    if (file.write(reinterpret_cast<const char*>(&count), kCountSize) != kCountSize
        || file.write(reinterpret_cast<const char*>(events.data()), bytes) != bytes) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void CDayJournal::CloseToday()
{
    if (count_ != nullptr)
        ::munmap(count_, kCountSize);
    count_ = nullptr;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void CDayJournal::StartDay(std::int64_t moment)
{
    CloseToday();
    todayMoment_ = moment;
    recordsOnDisk_ = 0;
    appendBroken_ = false; // a new file: worth one more try
}

void CDayJournal::LoadJournals()
{
    const std::int64_t now = base_.Clock().Now();
    StartDay(now);
    // The journals are read for this moment's date; the date the minute timer
    // compares against must be the same one.
    base_.today = CPointBase::DayOfMonth(now);
    std::vector<T_EVENT> today;
    std::vector<T_EVENT> yesterday;
    const QString todayPath = TodayFile();
    if (!ReadDayFile(todayPath, today) && QFile::exists(todayPath))
        KeepAside(todayPath, QStringLiteral("old"), now, AsideMode::Move); // unreadable: keep it, start anew
    ReadDayFile(DayFileName(base_.baseFolder(), now - kSecondsPerDay), yesterday);
    recordsOnDisk_ = today.size();
    base_.SetJournals(std::move(today), std::move(yesterday));
}

bool CDayJournal::OpenToday()
{
    if (fd_ >= 0)
        return true;
    const QByteArray path = QFile::encodeName(TodayFile());
    fd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
        return false;
    // The count is updated through a shared mapping of the file's first
    // bytes: a store into the page cache, which outlives the process like a
    // write would, without a second system call per event.
    struct stat status {};
    const std::uint32_t none = 0;
    if (::fstat(fd_, &status) != 0 || (status.st_size < kCountSize && !WriteAll(fd_, &none, sizeof none, 0))) {
        CloseToday();
        return false;
    }
    void* mapped = ::mmap(nullptr, kCountSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (mapped == MAP_FAILED) {
        CloseToday();
        return false;
    }
    count_ = static_cast<std::uint8_t*>(mapped);
    return true;
}

void CDayJournal::GiveUpAppending()
{
    const QString reason = QString::fromLocal8Bit(std::strerror(errno));
    CloseToday();
    appendBroken_ = true;
    if (onAppendFailure && !appendFailureReported_) {
        appendFailureReported_ = true;
        onAppendFailure(reason);
    }
}

void CDayJournal::Append()
{
    const auto& events = base_.todayEvents();
    if (appendBroken_ || recordsOnDisk_ >= events.size())
        return;
    if (!OpenToday()) {
        GiveUpAppending();
        return;
    }
    const std::size_t fresh = events.size() - recordsOnDisk_;
    const auto count = static_cast<std::uint32_t>(events.size());
    if (!WriteAll(fd_, events.data() + recordsOnDisk_, fresh * sizeof(T_EVENT),
                  static_cast<off_t>(kCountSize + static_cast<qint64>(recordsOnDisk_) * kRecordSize))) {
        GiveUpAppending();
        return;
    }
    // The records are in the file before the count says so.
    std::memcpy(count_, &count, sizeof count);
    recordsOnDisk_ = events.size();
}

void CDayJournal::SaveToday()
{
    const auto& events = base_.todayEvents();
    if (events.size() < recordsOnDisk_)
        return; // never replace the file with fewer events than it holds
    CloseToday();
    if (WriteDayFile(TodayFile(), events))
        recordsOnDisk_ = events.size();
}

void CDayJournal::RollOver()
{
    const QString endedDay = TodayFile();
    if (DayFileName(base_.baseFolder(), base_.Clock().Now()) == endedDay)
        return; // still the same date on the calendar: nothing to roll over
    base_.MoveTodayToYesterday();
    StartDay(base_.Clock().Now());
    // Written even when the day had no events: a day the server ran through
    // has its file, and the journal browser lists it.
    WriteDayFile(endedDay, base_.yesterdayEvents());
    // A file of the new date can only exist when the clock went back; keep it.
    const QString newDay = TodayFile();
    if (newDay != endedDay && QFile::exists(newDay))
        KeepAside(newDay, QStringLiteral("old"), base_.Clock().Now(), AsideMode::Move);
}
