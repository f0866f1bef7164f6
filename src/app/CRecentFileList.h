// The recent-file list of the per-user profile: the newest file first, each
// file once, at most a fixed number of them.
#pragma once

#include <QSettings>
#include <QStringList>

class CRecentFileList {
public:
    explicit CRecentFileList(int nSize) : m_nSize(nSize) {}

    // The profile's section "Recent File List", entries "File1" and following.
    void ReadList(QSettings& profile);
    void WriteList(QSettings& profile) const;
    void Add(const QString& strPath);
    void Remove(int nIndex);
    const QStringList& Files() const { return m_files; }

private:
    int m_nSize;
    QStringList m_files;
};
