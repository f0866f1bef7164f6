// A monitor's timeline with its bar: find (text or hex, next and previous),
// the filter by direction and process, the time column's mode, pause, the
// record limit and the export. The rows and every rule behind these are the
// model's; this only ties the controls to it.
#pragma once

#include <QWidget>

#include <optional>
#include <string>

class CTimelineModel;
class CTimelineView;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class CTimelinePane : public QWidget {
    Q_OBJECT

public:
    explicit CTimelinePane(QWidget* pParent = nullptr);

    void SetModel(CTimelineModel* pModel);
    CTimelineView* GetView() const { return m_pView; }

    // Asks for a file and writes the rows shown: CSV when the name ends in
    // ".csv", text otherwise. Failures go to AfxMessages().
    void OnExport();
    // Writes the rows shown to strPath; the failure's message, if any.
    std::optional<std::string> ExportTo(const QString& strPath) const;

private:
    QWidget* CreateFindBar();
    QWidget* CreateFilterBar();
    void OnFindChanged();
    void OnFindNext(bool bForward);
    void OnFilterChanged();
    void OnPauseClicked();
    // The process list, the pause and drop counts, the match count.
    void OnModelChanged();

    CTimelineModel* m_pModel = nullptr;
    CTimelineView* m_pView;
    QLineEdit* m_pFindEdit = nullptr;
    QCheckBox* m_pHexBox = nullptr;
    QLabel* m_pMatchLabel = nullptr;
    QCheckBox* m_pWrittenBox = nullptr;
    QCheckBox* m_pReadBox = nullptr;
    QCheckBox* m_pEventBox = nullptr;
    QComboBox* m_pProcessBox = nullptr;
    QComboBox* m_pTimeBox = nullptr;
    QPushButton* m_pPauseButton = nullptr;
    QSpinBox* m_pLimitBox = nullptr;
    QLabel* m_pStatusLabel = nullptr;
    std::size_t m_nProcessesListed = 0;
};
