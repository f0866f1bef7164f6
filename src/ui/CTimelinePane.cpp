#include "CTimelinePane.h"

#include "AfxMessages.h"
#include "CTimelineModel.h"
#include "CTimelineView.h"
#include "PaneExport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

// Every control is named for a screen reader by its own text, or its
// label's where it has none.
template <typename TWidget> TWidget* Named(TWidget* pWidget, const QString& strName) {
    pWidget->setAccessibleName(QString(strName).remove(u'&').remove(u':'));
    return pWidget;
}

// A row of controls, packed to the left.
QWidget* Row(std::initializer_list<QWidget*> widgets) {
    auto* pRow = new QWidget;
    auto* pLayout = new QHBoxLayout(pRow);
    pLayout->setContentsMargins(0, 0, 0, 0);
    for (QWidget* pWidget : widgets)
        pLayout->addWidget(pWidget);
    pLayout->addStretch(1);
    return pRow;
}

QShortcut* Shortcut(QWidget* pParent, const QKeySequence& key) {
    auto* pShortcut = new QShortcut(key, pParent);
    pShortcut->setContext(Qt::WidgetWithChildrenShortcut);
    return pShortcut;
}

} // namespace

CTimelinePane::CTimelinePane(QWidget* pParent) : QWidget(pParent), m_pView(new CTimelineView) {
    setAccessibleName(QStringLiteral("时间线"));
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(2, 2, 2, 2);
    pLayout->setSpacing(2);
    pLayout->addWidget(CreateFindBar());
    pLayout->addWidget(CreateFilterBar());
    pLayout->addWidget(m_pView, 1);
    setFocusProxy(m_pView);
    connect(m_pView, &CTimelineView::modelChanged, this, &CTimelinePane::OnModelChanged);
    connect(Shortcut(this, QKeySequence::Find), &QShortcut::activated, this, [this] {
        m_pFindEdit->setFocus(Qt::ShortcutFocusReason);
        m_pFindEdit->selectAll();
    });
    connect(Shortcut(this, QKeySequence::FindNext), &QShortcut::activated, this,
            [this] { OnFindNext(true); });
    connect(Shortcut(this, QKeySequence::FindPrevious), &QShortcut::activated, this,
            [this] { OnFindNext(false); });
    connect(Shortcut(this, QKeySequence(Qt::Key_Pause)), &QShortcut::activated, this,
            &CTimelinePane::OnPauseClicked);
}

QWidget* CTimelinePane::CreateFindBar() {
    auto* pLabel = new QLabel(QStringLiteral("查找(&K):"));
    m_pFindEdit = Named(new QLineEdit, pLabel->text());
    m_pFindEdit->setClearButtonEnabled(true);
    m_pFindEdit->setMinimumWidth(160);
    pLabel->setBuddy(m_pFindEdit);
    m_pHexBox = Named(new QCheckBox(QStringLiteral("十六进制(&X)")), QStringLiteral("十六进制"));
    auto* pPrevious = Named(new QPushButton(QStringLiteral("上一个")), QStringLiteral("上一个"));
    auto* pNext = Named(new QPushButton(QStringLiteral("下一个")), QStringLiteral("下一个"));
    pPrevious->setToolTip(QStringLiteral("上一个匹配 (Shift+F3)"));
    pNext->setToolTip(QStringLiteral("下一个匹配 (F3)"));
    m_pMatchLabel = new QLabel;
    QWidget* pBar = Row({pLabel, m_pFindEdit, m_pHexBox, pPrevious, pNext, m_pMatchLabel});
    connect(m_pFindEdit, &QLineEdit::textChanged, this, &CTimelinePane::OnFindChanged);
    connect(m_pFindEdit, &QLineEdit::returnPressed, this, [this] { OnFindNext(true); });
    connect(m_pHexBox, &QCheckBox::toggled, this, &CTimelinePane::OnFindChanged);
    connect(pPrevious, &QPushButton::clicked, this, [this] { OnFindNext(false); });
    connect(pNext, &QPushButton::clicked, this, [this] { OnFindNext(true); });
    return pBar;
}

QWidget* CTimelinePane::CreateFilterBar() {
    m_pWrittenBox = Named(new QCheckBox(QStringLiteral("发送(&O)")), QStringLiteral("发送"));
    m_pReadBox = Named(new QCheckBox(QStringLiteral("接收(&R)")), QStringLiteral("接收"));
    m_pEventBox = Named(new QCheckBox(QStringLiteral("事件(&N)")), QStringLiteral("事件"));
    for (QCheckBox* pBox : {m_pWrittenBox, m_pReadBox, m_pEventBox}) {
        pBox->setChecked(true);
        connect(pBox, &QCheckBox::toggled, this, &CTimelinePane::OnFilterChanged);
    }
    auto* pProcessLabel = new QLabel(QStringLiteral("进程(&P):"));
    m_pProcessBox = Named(new QComboBox, pProcessLabel->text());
    m_pProcessBox->addItem(QStringLiteral("全部进程"));
    m_pProcessBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    pProcessLabel->setBuddy(m_pProcessBox);
    auto* pTimeLabel = new QLabel(QStringLiteral("时间(&M):"));
    m_pTimeBox = Named(new QComboBox, pTimeLabel->text());
    m_pTimeBox->addItems(
        {QStringLiteral("时刻"), QStringLiteral("距上一行"), QStringLiteral("距第一行")});
    pTimeLabel->setBuddy(m_pTimeBox);
    m_pPauseButton = Named(new QPushButton(QStringLiteral("暂停(&U)")), QStringLiteral("暂停"));
    m_pPauseButton->setCheckable(true);
    m_pPauseButton->setToolTip(QStringLiteral("冻结显示，捕获继续 (Pause)"));
    auto* pLimitLabel = new QLabel(QStringLiteral("记录上限(&L):"));
    m_pLimitBox = Named(new QSpinBox, pLimitLabel->text());
    m_pLimitBox->setRange(100, 1000000);
    m_pLimitBox->setSingleStep(1000);
    pLimitLabel->setBuddy(m_pLimitBox);
    auto* pExport = Named(new QPushButton(QStringLiteral("导出(&T)...")), QStringLiteral("导出"));
    m_pStatusLabel = new QLabel;
    // Two rows, so that the bar fits a monitor window's first size.
    auto* pBar = new QWidget;
    auto* pLayout = new QVBoxLayout(pBar);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->setSpacing(2);
    pLayout->addWidget(Row({m_pWrittenBox, m_pReadBox, m_pEventBox, pProcessLabel, m_pProcessBox}));
    pLayout->addWidget(Row({pTimeLabel, m_pTimeBox, m_pPauseButton, pLimitLabel, m_pLimitBox,
                            pExport, m_pStatusLabel}));
    connect(m_pProcessBox, &QComboBox::activated, this, &CTimelinePane::OnFilterChanged);
    connect(m_pTimeBox, &QComboBox::activated, this, [this](int nIndex) {
        if (m_pModel != nullptr)
            m_pModel->SetTimeMode(CTimelineModel::ETimeMode(nIndex));
    });
    connect(m_pPauseButton, &QPushButton::clicked, this, &CTimelinePane::OnPauseClicked);
    connect(m_pLimitBox, &QSpinBox::editingFinished, this, [this] {
        if (m_pModel != nullptr)
            m_pModel->SetMaxRecords(std::size_t(m_pLimitBox->value()));
    });
    connect(pExport, &QPushButton::clicked, this, &CTimelinePane::OnExport);
    return pBar;
}

void CTimelinePane::SetModel(CTimelineModel* pModel) {
    m_pModel = pModel;
    m_pView->SetModel(pModel);
    if (pModel == nullptr)
        return;
    // A second window on the monitor shows the monitor's timeline as it is.
    m_pLimitBox->setValue(int(pModel->MaxRecords()));
    m_pTimeBox->setCurrentIndex(int(pModel->TimeMode()));
    m_pPauseButton->setChecked(pModel->IsPaused());
    const unsigned nDirections = pModel->DirectionFilter();
    m_pWrittenBox->setChecked(nDirections & CTimelineModel::DIRECTION_WRITTEN);
    m_pReadBox->setChecked(nDirections & CTimelineModel::DIRECTION_READ);
    m_pEventBox->setChecked(nDirections & CTimelineModel::DIRECTION_EVENT);
    OnModelChanged();
}

void CTimelinePane::OnFindChanged() {
    if (m_pModel == nullptr)
        return;
    std::string strError;
    if (!m_pModel->SetFind(m_pFindEdit->text().toStdString(), m_pHexBox->isChecked(), strError))
        m_pMatchLabel->setText(QString::fromStdString(strError));
    else
        OnModelChanged();
}

void CTimelinePane::OnFindNext(bool bForward) {
    if (m_pModel == nullptr)
        return;
    const auto current = m_pView->CurrentLine();
    const std::size_t nFrom =
        current ? *current : (bForward ? m_pModel->LineCount() : std::size_t(0));
    if (const auto nLine = m_pModel->FindNext(nFrom, bForward))
        m_pView->ShowLine(*nLine);
}

void CTimelinePane::OnFilterChanged() {
    if (m_pModel == nullptr)
        return;
    m_pModel->SetDirectionFilter(
        (m_pWrittenBox->isChecked() ? CTimelineModel::DIRECTION_WRITTEN : 0) |
        (m_pReadBox->isChecked() ? CTimelineModel::DIRECTION_READ : 0) |
        (m_pEventBox->isChecked() ? CTimelineModel::DIRECTION_EVENT : 0));
    const QVariant pid = m_pProcessBox->currentData();
    m_pModel->SetProcessFilter(pid.isValid() ? std::optional<std::uint32_t>(pid.toUInt())
                                             : std::nullopt);
}

void CTimelinePane::OnPauseClicked() {
    if (m_pModel == nullptr)
        return;
    if (m_pModel->IsPaused())
        m_pModel->Resume();
    else
        m_pModel->Pause();
    m_pPauseButton->setChecked(m_pModel->IsPaused());
    m_pPauseButton->setText(m_pModel->IsPaused() ? QStringLiteral("继续(&U)")
                                                 : QStringLiteral("暂停(&U)"));
    m_pPauseButton->setAccessibleName(m_pPauseButton->text().remove(QStringLiteral("(&U)")));
    m_pView->Refresh();
    // Resume jumps to the end.
    if (!m_pModel->IsPaused() && m_pModel->LineCount() > 0)
        m_pView->ShowLine(m_pModel->LineCount() - 1);
    OnModelChanged();
}

void CTimelinePane::OnModelChanged() {
    if (m_pModel == nullptr)
        return;
    const auto& processes = m_pModel->Processes();
    for (; m_nProcessesListed < processes.size(); ++m_nProcessesListed) {
        const auto& process = processes[m_nProcessesListed];
        m_pProcessBox->addItem(QString::number(process.dwPid) + u' ' +
                                   QString::fromStdString(process.strCommand),
                               QVariant::fromValue(process.dwPid));
    }
    QStringList status;
    if (m_pModel->IsPaused())
        status << QStringLiteral("已暂停，新到 %1 行").arg(m_pModel->RowsWhilePaused());
    if (m_pModel->DroppedRecords() > 0)
        status << QStringLiteral("已移除最早的 %1 条记录").arg(m_pModel->DroppedRecords());
    m_pStatusLabel->setText(status.join(QStringLiteral("；")));
    if (!m_pFindEdit->text().isEmpty())
        m_pMatchLabel->setText(QStringLiteral("%1 处匹配").arg(m_pModel->MatchCount()));
    else
        m_pMatchLabel->clear();
}

std::optional<std::string> CTimelinePane::ExportTo(const QString& strPath) const {
    const std::string bytes = strPath.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)
                                  ? m_pModel->ExportCsv()
                                  : m_pModel->ExportText();
    return PaneExport::SaveBytes(QFile::encodeName(strPath).toStdString(), bytes);
}

void CTimelinePane::OnExport() {
    if (m_pModel == nullptr)
        return;
    const QString strTitle = QStringLiteral("导出时间线");
    QFileDialog dialog(window(), strTitle);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("文本文件 (*.txt)"), QStringLiteral("CSV 文件 (*.csv)")});
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.selectFile(QStringLiteral("时间线.txt"));
    dialog.setAccessibleName(strTitle);
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& strFilter) {
        dialog.setDefaultSuffix(strFilter.contains(QStringLiteral("csv")) ? QStringLiteral("csv")
                                                                          : QStringLiteral("txt"));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    if (const auto strError = ExportTo(dialog.selectedFiles().constFirst()))
        AfxMessages().ShowWarning(*strError);
}
