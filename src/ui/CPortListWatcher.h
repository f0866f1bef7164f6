// Keeps the port list's combo box in step with the machine's ports while the
// program runs: the map file is watched when one is named, /dev and the tty
// class otherwise. Which ports are offered, and where, is CPortList's.
#pragma once

#include "CPortList.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

class QComboBox;

class CPortListWatcher : public QObject {
    Q_OBJECT
public:
    // A map file is often written in more than one step, and a device node
    // comes before its rights: the map is read a while after a change.
    static constexpr int SETTLE_MS = 200;

    // Fills the list from the map and selects its first port.
    CPortListWatcher(QComboBox* pCombo, QObject* pParent);

    // A port picked and monitored leaves the list; its first port is selected.
    void TakePort(const QString& strPort);
    // A closed monitor's port comes back at the end, if it is still there,
    // and the first port is selected.
    void GiveBackPort(const QString& strPort);

signals:
    // A monitored port left the machine.
    void PortVanished(const QString& strPort);

private:
    void Watch();
    void ReadMap();
    void ShowItems();

    QComboBox* m_pCombo;
    CPortList m_ports;
    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    QString m_strMapFile;
};
