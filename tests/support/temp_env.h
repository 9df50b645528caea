#pragma once

#include <QString>

class QProcess;

// Points HOME and XDG_CONFIG_HOME at a fresh temporary folder for this test
// process, so settings written by a test never reach the user's own.
void UseTemporaryHome();

// A fresh temporary folder for data files; removed when the process ends.
QString MakeTempFolder();

// Prepares a program under test to run offscreen with `home` as its home,
// settings and data folders and working directory, its error output passed
// through to the test's.
void PrepareProgram(QProcess& program, const QString& home);
