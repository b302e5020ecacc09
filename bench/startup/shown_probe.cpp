// A Qt plugin that notes when the first window of the process is exposed (shown, and ready to
// be drawn on): it writes CLOCK_MONOTONIC in nanoseconds to the file that QUILLON_SHOWN_FILE
// names. It only watches events; the program behaves as without it.

#include "bench_common.h"

#include <QEvent>
#include <QGenericPlugin>
#include <QGuiApplication>
#include <QWindow>

#include <cstdio>

namespace {

class ShownProbe : public QObject {
public:
    explicit ShownProbe(QString file) : file_(std::move(file)) {}

    bool eventFilter(QObject* object, QEvent* event) override
    {
        auto* window = qobject_cast<QWindow*>(object);
        if (!done_ && event->type() == QEvent::Expose && window != nullptr) {
            // Noted once the window has handled the expose, i.e. drawn itself.
            done_ = true;
            QMetaObject::invokeMethod(
                this, [this] { Note(); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    void Note()
    {
        const long long now = MonotonicNs();
        if (FILE* out = std::fopen(file_.toLocal8Bit().constData(), "w")) {
            std::fprintf(out, "%lld\n", now);
            std::fclose(out);
        }
        qApp->removeEventFilter(this);
    }

    QString file_;
    bool done_ = false;
};

} // namespace

class ShownProbePlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "shown_probe.json")

public:
    QObject* create(const QString& name, const QString&) override
    {
        const QString file = qEnvironmentVariable("QUILLON_SHOWN_FILE");
        if (name.compare("quillonshown", Qt::CaseInsensitive) != 0 || file.isEmpty())
            return nullptr;
        auto* probe = new ShownProbe(file);
        qApp->installEventFilter(probe);
        return probe;
    }
};

#include "shown_probe.moc"
