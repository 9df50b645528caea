#pragma once

#include <QString>

// Points HOME and XDG_CONFIG_HOME at a fresh temporary folder for this test
// process, so settings written by a test never reach the user's own.
void UseTemporaryHome();

// A fresh temporary folder for data files; removed when the process ends.
QString MakeTempFolder();
