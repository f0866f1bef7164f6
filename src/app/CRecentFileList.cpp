#include "CRecentFileList.h"

#include <QFileInfo>

namespace {
const QString SECTION = QStringLiteral("Recent File List");
QString Entry(int nIndex) {
    return QStringLiteral("File%1").arg(nIndex + 1);
}
} // namespace

void CRecentFileList::ReadList(QSettings& profile) {
    m_files.clear();
    profile.beginGroup(SECTION);
    for (int i = 0; i < m_nSize; ++i) {
        const QString strPath = profile.value(Entry(i)).toString();
        if (!strPath.isEmpty())
            m_files.append(strPath);
    }
    profile.endGroup();
}

void CRecentFileList::WriteList(QSettings& profile) const {
    profile.beginGroup(SECTION);
    for (int i = 0; i < m_nSize; ++i) {
        if (i < m_files.size())
            profile.setValue(Entry(i), m_files[i]);
        else
            profile.remove(Entry(i));
    }
    profile.endGroup();
}

void CRecentFileList::Add(const QString& strPath) {
    const QString strFull = QFileInfo(strPath).absoluteFilePath();
    m_files.removeAll(strFull);
    m_files.prepend(strFull);
    while (m_files.size() > m_nSize)
        m_files.removeLast();
}

void CRecentFileList::Remove(int nIndex) {
    if (nIndex >= 0 && nIndex < m_files.size())
        m_files.removeAt(nIndex);
}
