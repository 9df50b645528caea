// Any bytes as a day file: the reader takes the whole records the file
// holds, whatever count it declares.
#include "server/storage/day_journal.h"

#include <QDir>
#include <QFile>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QString path = QDir::tempPath() + QStringLiteral("/day_file_fuzz.base");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    std::vector<T_EVENT> events;
    if (!CDayJournal::ReadDayFile(path, events))
        std::abort();
    const std::size_t expected = size < 4 ? 0 : (size - 4) / sizeof(T_EVENT);
    if (events.size() != expected)
        std::abort();
    return 0;
}
