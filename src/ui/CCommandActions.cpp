#include "CCommandActions.h"

#include "CCommandRouter.h"
#include "Resource.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>

namespace {

// A command's string is "prompt\ntooltip".
QStringList CommandStrings(UINT nID) {
    const char* pszText = LoadResourceString(nID);
    QStringList strings = QString::fromUtf8(pszText != nullptr ? pszText : "").split(u'\n');
    while (strings.size() < 2)
        strings.append(QString());
    return strings;
}

QList<QKeySequence> KeysOf(UINT nID) {
    QList<QKeySequence> keys;
    for (const CAccelerator& accelerator : ACCELERATORS)
        if (accelerator.nID == nID)
            keys.append(QKeySequence(QString::fromUtf8(accelerator.pszKeys)));
    if (nID == SC_CLOSE) // the desktop's own close key, too
        for (const QKeySequence& key : QKeySequence::keyBindings(QKeySequence::Close))
            if (!keys.contains(key))
                keys.append(key);
    return keys;
}

} // namespace

CCommandActions::CCommandActions(QWidget* pParent, std::function<void(UINT)> run)
    : m_pParent(pParent), m_run(std::move(run)) {
    for (const auto menus : {MENU_WIRELETTYPE, MENU_MAINFRAME})
        for (const CMenuPopup& popup : menus)
            for (const CMenuItem& item : popup.items)
                MakeAction(item.nID, item.pszText);
    for (int i = 1; i < RECENT_FILE_COUNT; ++i)
        MakeAction(ID_FILE_MRU_FILE1 + i, nullptr);
    for (const UINT nID : TOOLBAR_MAINFRAME)
        MakeAction(nID, nullptr);
    for (const CAccelerator& accelerator : ACCELERATORS)
        MakeAction(accelerator.nID, nullptr);
    for (const auto& [nID, pAction] : m_actions)
        pAction->setShortcuts(KeysOf(nID));
    for (const CMenuPopup& popup : MENU_MAINFRAME)
        m_mainFrameMenus.push_back(CreateMenu(popup));
    for (const CMenuPopup& popup : MENU_WIRELETTYPE)
        m_monitorMenus.push_back(CreateMenu(popup));
}

void CCommandActions::MakeAction(UINT nID, const char* pszMenuText) {
    if (nID == ID_SEPARATOR || nID == IDC_PORT_COMBO || m_actions.contains(nID))
        return;
    const QStringList strings = CommandStrings(nID);
    QString strText = pszMenuText != nullptr ? QString::fromUtf8(pszMenuText) : strings[1];
    strText = strText.section(u'\t', 0, 0);
    auto* pAction = new QAction(strText, m_pParent);
    pAction->setStatusTip(strings[0]);
    pAction->setToolTip(strings[1].isEmpty() ? strText : strings[1]);
    pAction->setIconText(pAction->toolTip());
    QObject::connect(pAction, &QAction::triggered, m_pParent, [this, nID] { m_run(nID); });
    m_pParent->addAction(pAction); // keys work wherever the focus is in the window
    m_actions.emplace(nID, pAction);
}

QMenu* CCommandActions::CreateMenu(const CMenuPopup& popup) {
    auto* pMenu = new QMenu(QString::fromUtf8(popup.pszText), m_pParent);
    pMenu->setAccessibleName(pMenu->title().remove(u'&'));
    for (const CMenuItem& item : popup.items) {
        if (item.nID == ID_SEPARATOR)
            pMenu->addSeparator();
        else if (item.nID == ID_FILE_MRU_FILE1)
            for (int i = 0; i < RECENT_FILE_COUNT; ++i)
                pMenu->addAction(m_actions.at(ID_FILE_MRU_FILE1 + i));
        else
            pMenu->addAction(m_actions.at(item.nID));
    }
    pMenu->setProperty("bWindowList", popup.bWindowList);
    return pMenu;
}

QAction* CCommandActions::GetAction(UINT nID) const {
    const auto it = m_actions.find(nID);
    return it != m_actions.end() ? it->second : nullptr;
}

void CCommandActions::UpdateStates(std::span<CCmdTarget* const> route) {
    for (const auto& [nID, pAction] : m_actions) {
        const CCmdUI cmdUI = CCommandRouter::Update(route, nID);
        pAction->setEnabled(cmdUI.m_bEnabled);
        pAction->setCheckable(cmdUI.m_bChecked.has_value());
        if (cmdUI.m_bChecked)
            pAction->setChecked(*cmdUI.m_bChecked);
    }
}

void CCommandActions::UpdateRecentFileItems(const QStringList& files) {
    for (int i = 0; i < RECENT_FILE_COUNT; ++i) {
        QAction* pAction = m_actions.at(ID_FILE_MRU_FILE1 + i);
        if (i < files.size())
            pAction->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(files[i]));
        else if (i == 0)
            pAction->setText(QString::fromUtf8("最近文件"));
        pAction->setVisible(i < files.size() || i == 0);
    }
}
