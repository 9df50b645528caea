#pragma once

#include "server/lists/event_list_model.h"

#include <QDialog>
#include <QStringList>

#include <functional>

class CClock;
class CPointBase;
class QComboBox;
class QTableView;

// "Журнал событий": the events of any day that has a day journal file in the
// base folder, newest first, and the export of a day to a text file.
//
// It works on the files alone: each step reads the base folder from the
// settings store, the day file and the point register afresh (into a
// CPointBase of its own), so it sees a base folder changed in the settings
// before the server itself does.
class CHistoryDlg final : public QDialog
{
    Q_OBJECT

public:
    explicit CHistoryDlg(const CClock& clock, QWidget* parent = nullptr);

    // Opens an exported file with the user's default application for it.
    std::function<void(const QString& path)> openFile;

    // The dates, "05 Sep 2011", of the day file names among `fileNames`,
    // newest first. A name that does not give a valid date is skipped.
    static QStringList DateList(const QStringList& fileNames);
    // One line of the export: date, time, point name, event text.
    static QString ExportLine(const T_EVENT& event, const QString& name);

    // Lists the events of the selected date.
    void LoadDay();
    // Asks for a file and writes the selected date's events to it as text,
    // then opens it.
    void ExportDay();

    CEventListModel& events() { return events_; }

private:
    void CreateControls();
    // The day file of the selected date, in the base folder of `points`.
    QString SelectedDayFile(const CPointBase& points) const;

    const CClock& clock_;
    CEventListModel events_;
    QComboBox* dateBox_ = nullptr;
    QTableView* eventList_ = nullptr;
};
