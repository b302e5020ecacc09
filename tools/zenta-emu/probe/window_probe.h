// The window probe: a Qt generic plugin, loaded into the updater, that logs what its window
// shows and acts on it as a person would.
#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QGenericPlugin>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

// Watches the updater's window from inside its process, as an accessibility tool would, and
// writes what a person sees (texts, buttons, progress) to a file each time it changes; with a
// folder given, also a picture of the window. It also does what a person would do to the window
// (a key, a click) when the emulator writes that to its command file. Loaded by Qt itself
// (QT_QPA_GENERIC_PLUGINS), so the updater runs unchanged.
class WindowProbe : public QObject {
    Q_OBJECT
public:
    WindowProbe(const QString& logFile, const QString& shotFolder, const QString& commandFile,
                QObject* parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void Look();

private:
    QJsonObject Snapshot(QWidget** window, QWidget* hiding) const;
    void LookAt(QWidget* hiding);
    QString SaveShot(QWidget* window);
    // Carries out what was added to the command file since the last look.
    void Obey();

    QFile log_;
    QString shotFolder_;
    QTimer timer_;
    QElapsedTimer clock_;
    QJsonObject last_;
    int lastShotProgress_ = -1;
    int shots_ = 0;
    QString commandFile_;
    qint64 commandsRead_ = 0;
};

class WindowProbePlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "window_probe.json")
public:
    QObject* create(const QString& name, const QString& parameters) override;
};
