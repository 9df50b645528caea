#include "tests/support/temp_env.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

std::vector<std::unique_ptr<QTemporaryDir>>& Folders()
{
    static std::vector<std::unique_ptr<QTemporaryDir>> folders;
    return folders;
}

} // namespace

QString MakeTempFolder()
{
    auto dir = std::make_unique<QTemporaryDir>();
    const QString path = dir->path();
    Folders().push_back(std::move(dir));
    return path;
}

void UseTemporaryHome()
{
    const QString home = MakeTempFolder();
    QDir(home).mkpath(QStringLiteral(".config"));
    QDir(home).mkpath(QStringLiteral(".local/share"));
    setenv("HOME", home.toLocal8Bit().constData(), 1);
    setenv("XDG_CONFIG_HOME", (home + QStringLiteral("/.config")).toLocal8Bit().constData(), 1);
    setenv("XDG_DATA_HOME", (home + QStringLiteral("/.local/share")).toLocal8Bit().constData(), 1);
    QStandardPaths::setTestModeEnabled(false);
}

void PrepareProgram(QProcess& program, const QString& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(home);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}
