#include "server/storage/register_file.h"

#include "common/clock.h"
#include "server/model/point_base.h"
#include "server/storage/file_aside.h"

#include <QFile>
#include <QSaveFile>
#include <QSet>

#include <cstring>

namespace {

const QString kRegisterName = QStringLiteral("SerialBase.base");

constexpr std::uint8_t kByteEscape = 0xFF;      // "a longer length follows"
constexpr std::uint16_t kUnicodeMarker = 0xFFFE; // FF FE FF: a UTF-16 string
constexpr std::uint16_t kWordEscape = 0xFFFF;
constexpr std::uint32_t kDwordEscape = 0xFFFFFFFF;

class CReader
{
public:
    explicit CReader(const QByteArray& data) : data_(data) {}

    qsizetype Remaining() const { return data_.size() - pos_; }

    template <typename T> bool Read(T& value)
    {
        if (Remaining() < static_cast<qsizetype>(sizeof(T)))
            return false;
        std::memcpy(&value, data_.constData() + pos_, sizeof(T));
        pos_ += static_cast<qsizetype>(sizeof(T));
        return true;
    }

    bool ReadString(QString& out)
    {
        bool unicode = false;
        std::uint64_t length = 0;
        if (!ReadLength(unicode, length))
            return false;
        const std::uint64_t bytes = unicode ? length * 2 : length;
        if (length > static_cast<std::uint64_t>(Remaining()) || bytes > static_cast<std::uint64_t>(Remaining()))
            return false;
        const char* start = data_.constData() + pos_;
        if (unicode) {
            out = QString(static_cast<qsizetype>(length), Qt::Uninitialized);
            std::memcpy(out.data(), start, static_cast<std::size_t>(bytes));
        } else {
            out = QString::fromLatin1(start, static_cast<qsizetype>(length));
        }
        pos_ += static_cast<qsizetype>(bytes);
        return true;
    }

    bool ReadList(std::vector<QString>& list)
    {
        std::uint16_t shortCount = 0;
        if (!Read(shortCount))
            return false;
        std::uint32_t count = shortCount;
        if (shortCount == kWordEscape && !Read(count))
            return false;
        // Every string takes at least one byte: a count beyond the data is
        // not believed, and nothing is reserved for it.
        list.reserve(std::min<std::size_t>(count, static_cast<std::size_t>(Remaining())));
        for (std::uint32_t i = 0; i < count; ++i) {
            QString text;
            if (!ReadString(text))
                return false;
            list.push_back(std::move(text));
        }
        return true;
    }

private:
    bool ReadLength(bool& unicode, std::uint64_t& length)
    {
        std::uint8_t byte = 0;
        if (!Read(byte))
            return false;
        if (byte < kByteEscape) {
            length = byte;
            return true;
        }
        std::uint16_t word = 0;
        if (!Read(word))
            return false;
        if (word == kUnicodeMarker) {
            unicode = true;
            if (!Read(byte))
                return false;
            if (byte < kByteEscape) {
                length = byte;
                return true;
            }
            if (!Read(word) || word == kUnicodeMarker)
                return false;
        }
        if (word < kWordEscape) {
            length = word;
            return true;
        }
        std::uint32_t dword = 0;
        if (!Read(dword))
            return false;
        if (dword < kDwordEscape) {
            length = dword;
            return true;
        }
        return Read(length);
    }

    const QByteArray& data_;
    qsizetype pos_ = 0;
};

template <typename T> void Append(QByteArray& out, T value)
{
    out.append(reinterpret_cast<const char*>(&value), sizeof(T));
}

void AppendString(QByteArray& out, const QString& text)
{
    const auto length = static_cast<std::uint32_t>(text.size());
    Append<std::uint8_t>(out, kByteEscape);
    Append<std::uint16_t>(out, kUnicodeMarker);
    if (length < kByteEscape) {
        Append<std::uint8_t>(out, static_cast<std::uint8_t>(length));
    } else {
        Append<std::uint8_t>(out, kByteEscape);
        if (length < kUnicodeMarker) {
            Append<std::uint16_t>(out, static_cast<std::uint16_t>(length));
        } else {
            Append<std::uint16_t>(out, kWordEscape);
            Append<std::uint32_t>(out, length);
        }
    }
    out.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

void AppendList(QByteArray& out, const std::vector<QString>& list)
{
    const auto count = static_cast<std::uint32_t>(list.size());
    if (count < kWordEscape) {
        Append<std::uint16_t>(out, static_cast<std::uint16_t>(count));
    } else {
        Append<std::uint16_t>(out, kWordEscape);
        Append<std::uint32_t>(out, count);
    }
    for (const QString& text : list)
        AppendString(out, text);
}

// Damaged register files whose copy could not be made yet: they must not
// be overwritten until it is.
QSet<QString>& UncopiedDamagedFiles()
{
    static QSet<QString> paths;
    return paths;
}

QString KeepCopy(const CPointBase& base, const QString& path)
{
    return KeepAside(path, QStringLiteral("bad"), base.Clock().Now(), AsideMode::Copy);
}

} // namespace

RegisterParseResult ParseRegister(const QByteArray& data)
{
    RegisterParseResult result;
    CReader reader(data);
    auto fail = [&](const QString& what) {
        result.ok = false;
        result.error = what;
        return result;
    };
    if (!reader.Read(result.declaredCount))
        return fail(QStringLiteral("нет числа точек"));
    auto& serials = result.contents.serials;
    serials.reserve(std::min<std::size_t>(result.declaredCount, static_cast<std::size_t>(reader.Remaining() / 4)));
    for (std::uint32_t i = 0; i < result.declaredCount; ++i) {
        std::uint32_t serial = 0;
        if (!reader.Read(serial))
            return fail(QStringLiteral("файл обрывается в номерах точек"));
        serials.push_back(serial);
    }
    if (!reader.ReadList(result.contents.names))
        return fail(QStringLiteral("ошибка в списке названий"));
    if (!reader.ReadList(result.contents.descriptions))
        return fail(QStringLiteral("ошибка в списке описаний"));
    if (!reader.ReadList(result.contents.phones))
        return fail(QStringLiteral("ошибка в списке телефонов"));
    const std::size_t n = serials.size();
    if (result.contents.names.size() != n || result.contents.descriptions.size() != n
        || result.contents.phones.size() != n)
        return fail(QStringLiteral("списки не совпадают с числом точек"));
    return result;
}

QByteArray SerializeRegister(const CPointBase& base)
{
    QByteArray out;
    Append<std::uint32_t>(out, static_cast<std::uint32_t>(base.count()));
    for (std::uint32_t serial : base.serials())
        Append<std::uint32_t>(out, serial);
    AppendList(out, base.names());
    AppendList(out, base.descriptions());
    AppendList(out, base.phones());
    return out;
}

QString RegisterPath(const CPointBase& base) { return base.baseFolder() + QLatin1Char('/') + kRegisterName; }

RegisterLoadResult LoadRegister(CPointBase& base)
{
    RegisterLoadResult result;
    const QString path = RegisterPath(base);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QByteArray data = file.readAll();
    file.close();

    RegisterParseResult parsed = ParseRegister(data);
    auto& c = parsed.contents;
    const std::size_t n = c.serials.size();
    c.names.resize(n);
    c.descriptions.resize(n);
    c.phones.resize(n, CPointBase::kNewPointPhone);
    base.ReplaceRegister(std::move(c.serials), std::move(c.names), std::move(c.descriptions),
                         std::move(c.phones));
    if (parsed.ok) {
        result.status = RegisterLoadResult::Loaded;
        return result;
    }
    result.status = RegisterLoadResult::Damaged;
    result.copyPath = KeepCopy(base, path);
    if (result.copyPath.isEmpty())
        UncopiedDamagedFiles().insert(path);
    result.message = QStringLiteral("Файл базы точек %1 повреждён (%2).\nЗагружено точек: %3 из %4.")
                         .arg(path, parsed.error)
                         .arg(base.count())
                         .arg(parsed.declaredCount);
    if (!result.copyPath.isEmpty())
        result.message += QStringLiteral("\nКопия файла сохранена: %1").arg(result.copyPath);
    return result;
}

bool SaveRegister(const CPointBase& base)
{
    const QString path = RegisterPath(base);
    if (UncopiedDamagedFiles().contains(path)) {
        if (KeepCopy(base, path).isEmpty())
            return false;
        UncopiedDamagedFiles().remove(path);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray data = SerializeRegister(base);
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
