#include "CPortListWatcher.h"

#include "CSerialPortMap.h"

#include <QComboBox>
#include <QFileInfo>

#include <cstdlib>

CPortListWatcher::CPortListWatcher(QComboBox* pCombo, QObject* pParent)
    : QObject(pParent), m_pCombo(pCombo),
      m_strMapFile(QString::fromLocal8Bit(std::getenv(CSerialPortMap::MAP_FILE_VARIABLE))) {
    m_settle.setSingleShot(true);
    m_settle.setInterval(SETTLE_MS);
    connect(&m_settle, &QTimer::timeout, this, &CPortListWatcher::ReadMap);
    // Changes that keep coming still get the map read every SETTLE_MS.
    const auto settle = [this] {
        if (!m_settle.isActive())
            m_settle.start();
    };
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, settle);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, settle);
    ReadMap();
    m_pCombo->setCurrentIndex(0);
}

// A file replaced by a rename is a new file, which the watch does not
// follow; its folder's change brings it back under watch.
void CPortListWatcher::Watch() {
    QStringList paths;
    if (m_strMapFile.isEmpty())
        paths << QStringLiteral("/dev") << QStringLiteral("/sys/class/tty");
    else
        paths << QFileInfo(m_strMapFile).absolutePath() << m_strMapFile;
    for (const QString& strPath : paths)
        if (!m_watcher.files().contains(strPath) && !m_watcher.directories().contains(strPath) &&
            QFileInfo::exists(strPath))
            m_watcher.addPath(strPath);
}

// No map at all offers no port.
void CPortListWatcher::ReadMap() {
    Watch();
    const auto vanished =
        m_ports.Update(CSerialPortMap::Read().value_or(std::vector<std::string>{}));
    ShowItems();
    for (const std::string& strPort : vanished)
        emit PortVanished(QString::fromStdString(strPort));
}

void CPortListWatcher::TakePort(const QString& strPort) {
    m_ports.Take(strPort.toStdString());
    ShowItems();
    m_pCombo->setCurrentIndex(0);
}

void CPortListWatcher::GiveBackPort(const QString& strPort) {
    m_ports.GiveBack(strPort.toStdString());
    ShowItems();
    m_pCombo->setCurrentIndex(0);
}

// Items are removed and inserted in place rather than the list refilled, so
// that the port a user is on stays selected while others come and go.
void CPortListWatcher::ShowItems() {
    QStringList items;
    for (const std::string& strPort : m_ports.Items())
        items << QString::fromStdString(strPort);
    for (int i = m_pCombo->count() - 1; i >= 0; --i)
        if (!items.contains(m_pCombo->itemText(i)))
            m_pCombo->removeItem(i);
    for (int i = 0; i < items.size(); ++i)
        if (i >= m_pCombo->count() || m_pCombo->itemText(i) != items[i])
            m_pCombo->insertItem(i, items[i]);
    if (m_pCombo->currentIndex() < 0)
        m_pCombo->setCurrentIndex(0);
}
