// A Qt plugin that watches the GUI thread of the program it is loaded into. A precise timer asks
// for a turn of the event loop every few milliseconds; the longest wait beyond that, from the
// moment Qt loads the plugin (while the application object is made) to the end of the event
// loop, is the longest stall. At the end of the event loop (aboutToQuit) it writes to the file
// QUILLON_STALL_FILE names: the longest stall, when it began, and CLOCK_MONOTONIC then, in
// nanoseconds. QUILLON_STALL_ACTION=close@MS or cancel@MS closes the window or presses its
// Cancel button MS milliseconds after the start, as a user would.

#include "bench_common.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGenericPlugin>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

constexpr int kTickMs = 5;

class StallProbe : public QObject {
public:
    explicit StallProbe(QString file) : file_(std::move(file)), start_(MonotonicNs())
    {
        last_ = start_;
        timer_.setTimerType(Qt::PreciseTimer);
        connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
        timer_.start(kTickMs);
        connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { Quit(); });
    }

    void ActAt(const QString& action, int ms)
    {
        QTimer::singleShot(ms, this, [action] {
            if (action == "close")
                QApplication::closeAllWindows();
            for (QWidget* widget : QApplication::allWidgets()) {
                auto* button = qobject_cast<QAbstractButton*>(widget);
                if (action == "cancel" && button != nullptr && button->isVisible() &&
                    button->text() == "Cancel")
                    button->click();
            }
        });
    }

private:
    void Tick()
    {
        const long long now = MonotonicNs();
        if (now - last_ > worst_) {
            worst_ = now - last_;
            worstAt_ = last_ - start_;
        }
        last_ = now;
    }

    void Quit()
    {
        Tick(); // the wait up to the end of the loop counts too
        timer_.stop();
        const long long stall = worst_ > kTickMs * 1000000LL ? worst_ - kTickMs * 1000000LL : 0;
        if (FILE* out = std::fopen(file_.toLocal8Bit().constData(), "w")) {
            std::fprintf(out, "%lld %lld %lld\n", stall, worstAt_, MonotonicNs());
            std::fclose(out);
        }
    }

    QString file_;
    QTimer timer_;
    long long start_;
    long long last_;
    long long worst_ = 0;
    long long worstAt_ = 0;
};

} // namespace

class StallProbePlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "stall_probe.json")

public:
    QObject* create(const QString& name, const QString&) override
    {
        const QString file = qEnvironmentVariable("QUILLON_STALL_FILE");
        if (name.compare("quillonstall", Qt::CaseInsensitive) != 0 || file.isEmpty())
            return nullptr;
        auto* probe = new StallProbe(file);
        const QString action = qEnvironmentVariable("QUILLON_STALL_ACTION");
        if (!action.isEmpty())
            probe->ActAt(action.section('@', 0, 0), action.section('@', 1).toInt());
        return probe;
    }
};

#include "stall_probe.moc"
