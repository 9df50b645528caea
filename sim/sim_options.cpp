#include "sim/sim_options.h"

#include <QCoreApplication>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>

namespace {

constexpr int kKeyDigits = 16;
constexpr int kBadOptionsStatus = 2;

} // namespace

CSimOptions::CSimOptions(const QString& description)
{
    parser_.setApplicationDescription(description);
    parser_.addHelpOption();
}

void CSimOptions::Add(const QList<QCommandLineOption>& options)
{
    parser_.addOptions(options);
}

CSimOptions::Status CSimOptions::Parse(const QStringList& arguments)
{
    message_.clear();
    if (!parser_.parse(arguments)) {
        message_ = parser_.errorText();
        return Status::Error;
    }
    if (parser_.isSet(QStringLiteral("help-all")))
        parser_.process(arguments);   // prints the help and ends the program
    if (parser_.isSet(QStringLiteral("help"))) {
        message_ = parser_.helpText();
        return Status::Help;
    }
    if (!parser_.positionalArguments().isEmpty()) {
        message_ = QStringLiteral("unexpected argument: %1").arg(parser_.positionalArguments().constFirst());
        return Status::Error;
    }
    return Status::Run;
}

bool CSimOptions::IsSet(const QCommandLineOption& option) const
{
    return parser_.isSet(option);
}

QString CSimOptions::Value(const QCommandLineOption& option) const
{
    return parser_.value(option);
}

QStringList CSimOptions::Values(const QCommandLineOption& option) const
{
    return parser_.values(option);
}

bool CSimOptions::Number(const QCommandLineOption& option, std::int64_t low, std::int64_t high,
                         std::int64_t* value) const
{
    return ParseNumber(Value(option), low, high, value);
}

bool CSimOptions::Key(const QCommandLineOption& option, std::array<std::uint8_t, 8>* key) const
{
    return ParseKey(Value(option), key);
}

bool CSimOptions::ParseNumber(const QString& text, std::int64_t low, std::int64_t high, std::int64_t* value)
{
    QString digits = text.trimmed();
    const bool negative = digits.startsWith(QLatin1Char('-'));
    if (negative)
        digits.remove(0, 1);
    const bool hex = digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    if (hex)
        digits.remove(0, 2);
    // Digits only: no second sign, no blank, no prefix after the first.
    if (digits.isEmpty() || !std::all_of(digits.cbegin(), digits.cend(), [hex](QChar c) {
            return c.unicode() < 0x80 && (hex ? std::isxdigit(c.unicode()) : std::isdigit(c.unicode()));
        }))
        return false;
    bool ok = false;
    const qulonglong magnitude = digits.toULongLong(&ok, hex ? 16 : 10);
    constexpr auto kMax = static_cast<qulonglong>(std::numeric_limits<std::int64_t>::max());
    if (!ok || magnitude > kMax)
        return false;
    const std::int64_t v = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    if (v < low || v > high)
        return false;
    *value = v;
    return true;
}

bool CSimOptions::ParseKey(const QString& text, std::array<std::uint8_t, 8>* key)
{
    const QByteArray hex = text.toLatin1();
    if (hex.size() != kKeyDigits)
        return false;
    for (char c : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    const QByteArray bytes = QByteArray::fromHex(hex);
    std::copy(bytes.begin(), bytes.end(), key->begin());
    return true;
}

int CSimOptions::Finish(Status status) const
{
    if (status == Status::Help) {
        std::fputs(qPrintable(message_), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    return Fail(message_);
}

int CSimOptions::Fail(const QString& message)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()), qPrintable(message));
    return kBadOptionsStatus;
}
