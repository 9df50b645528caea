// Writes a manual page from a program's --help text (Qt's QCommandLineParser
// layout), so that the page of an emulator always says what its --help says.
// Usage: help_to_man PROGRAM NAME VERSION DATE SUMMARY OUTPUT.1
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <cstdio>

namespace {

// Text for roff: backslashes kept, dashes that start an option made minus
// signs (so that a copied option works), no line taken for a request.
QString Escape(QString text)
{
    text.replace(QLatin1Char('\\'), QStringLiteral("\\e"));
    static const QRegularExpression optionDashes(QStringLiteral("(^|[\\s(\\[,/])(-{1,2})(?=[A-Za-z0-9])"));
    QString result;
    qsizetype from = 0;
    for (auto match = optionDashes.globalMatch(text); match.hasNext();) {
        const auto m = match.next();
        result += text.mid(from, m.capturedStart(2) - from);
        result += QString(m.capturedLength(2) == 2 ? QStringLiteral("\\-\\-") : QStringLiteral("\\-"));
        from = m.capturedEnd(2);
    }
    result += text.mid(from);
    if (result.startsWith(QLatin1Char('.')) || result.startsWith(QLatin1Char('\'')))
        result.prepend(QStringLiteral("\\&"));
    return result;
}

// "-h, --help" or "--host <address>": option names bold, with every dash a
// minus sign, so that they are typed as they read; values italic.
QString OptionTag(const QString& names)
{
    QStringList parts;
    for (QString word : names.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (word.startsWith(QLatin1Char('<'))) {
            parts.append(QStringLiteral("\\fI%1\\fR").arg(Escape(word)));
        } else {
            word.replace(QLatin1Char('\\'), QStringLiteral("\\e"));
            word.replace(QLatin1Char('-'), QStringLiteral("\\-"));
            parts.append(QStringLiteral("\\fB%1\\fR").arg(word));
        }
    }
    return parts.join(QLatin1Char(' '));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 7) {
        std::fprintf(stderr, "Usage: %s PROGRAM NAME VERSION DATE SUMMARY OUTPUT.1\n", argv[0]);
        return 2;
    }
    const QString& program = args[1];
    const QString& name = args[2];

    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, {QStringLiteral("--help")});
    constexpr int kDeadlineMs = 30000;
    if (!process.waitForFinished(kDeadlineMs) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        std::fprintf(stderr, "%s: %s --help failed\n", argv[0], qPrintable(program));
        return 1;
    }
    const QStringList lines = QString::fromLocal8Bit(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    static const QRegularExpression usage(QStringLiteral("^Usage: \\S+ ?(.*)$"));
    const auto usageMatch = usage.match(lines.value(0));
    if (!usageMatch.hasMatch()) {
        std::fprintf(stderr, "%s: %s --help does not start with a usage line\n", argv[0], qPrintable(program));
        return 1;
    }

    QString page;
    page += QStringLiteral(".TH %1 1 \"%2\" \"Ostrel %3\" \"Ostrel\"\n").arg(name.toUpper(), args[4], args[3]);
    page += QStringLiteral(".SH NAME\n%1 \\- %2\n").arg(Escape(name), Escape(args[5]));
    page += QStringLiteral(".SH SYNOPSIS\n.B %1\n%2\n").arg(Escape(name), Escape(usageMatch.captured(1)));
    page += QStringLiteral(".SH DESCRIPTION\n");

    // An option or argument line: two spaces, the names and value, two or more spaces,
    // its text; further lines of its text are indented deeper.
    static const QRegularExpression option(QStringLiteral("^  (\\S.*?)(?:\\s{2,}(.*))?$"));
    static const QRegularExpression continuation(QStringLiteral("^\\s{3,}(\\S.*)$"));
    static const QRegularExpression heading(QStringLiteral("^(\\S.*):$"));
    bool inList = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString& line = lines[i];
        if (line.trimmed().isEmpty())
            continue;
        if (const auto m = heading.match(line); m.hasMatch()) {
            page += QStringLiteral(".SH %1\n").arg(Escape(m.captured(1).toUpper()));
            inList = true;
            continue;
        }
        if (inList) {
            if (const auto m = option.match(line); m.hasMatch()) {
                page += QStringLiteral(".TP\n%1\n").arg(OptionTag(m.captured(1)));
                if (!m.captured(2).isEmpty())
                    page += Escape(m.captured(2)) + QLatin1Char('\n');
                continue;
            }
            if (const auto m = continuation.match(line); m.hasMatch()) {
                page += Escape(m.captured(1)) + QLatin1Char('\n');
                continue;
            }
        }
        page += Escape(line.trimmed()) + QLatin1Char('\n');
    }

    QFile output(args[6]);
    if (!output.open(QIODevice::WriteOnly | QIODevice::Truncate) || output.write(page.toUtf8()) < 0) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(args[6]));
        return 1;
    }
    return 0;
}
