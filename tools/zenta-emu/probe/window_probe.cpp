// The window probe at work: a look at the window every 50 ms and as a window hides, a line of
// the log per change (a picture too, when asked), and the keys and clicks the emulator asks for.
#include "window_probe.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QWidget>

#include <cstdlib>

namespace {

constexpr int kLookMs = 50;
constexpr int kShotProgressStep = 10;

} // namespace

WindowProbe::WindowProbe(const QString& logFile, const QString& shotFolder,
                         const QString& commandFile, QObject* parent)
    : QObject(parent), log_(logFile), shotFolder_(shotFolder), commandFile_(commandFile)
{
    log_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
    clock_.start();
    connect(&timer_, &QTimer::timeout, this, &WindowProbe::Look);
    // The last look comes right before the event loop ends, so that the final text is seen.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { LookAt(nullptr); });
    timer_.start(kLookMs);
    // A window that goes away is seen once more as it goes, with its last texts.
    qApp->installEventFilter(this);
    log_.write("{\"probe\":\"loaded\"}\n");
    log_.flush();
}

QJsonObject WindowProbe::Snapshot(QWidget** window, QWidget* hiding) const
{
    QJsonArray labels;
    QJsonArray buttons;
    int progress = -1;
    QString title;
    *window = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible() && top != hiding)
            continue;
        if (*window == nullptr) {
            *window = top;
            title = top->windowTitle();
        }
        for (QWidget* widget : top->findChildren<QWidget*>()) {
            if (!widget->isVisibleTo(top))
                continue;
            if (auto* label = qobject_cast<QLabel*>(widget)) {
                if (!label->text().isEmpty())
                    labels.append(label->text());
            } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
                buttons.append(
                    QJsonObject{{"text", button->text()}, {"enabled", button->isEnabled()}});
            } else if (auto* bar = qobject_cast<QProgressBar*>(widget)) {
                progress = progress < 0 ? bar->value() : progress;
            }
        }
    }
    return QJsonObject{
        {"title", title}, {"labels", labels}, {"buttons", buttons}, {"progress", progress}};
}

QString WindowProbe::SaveShot(QWidget* window)
{
    const QString name = QString("shot-%1.png").arg(++shots_, 3, 10, QChar('0'));
    return window->grab().save(QDir(shotFolder_).filePath(name)) ? name : QString();
}

void WindowProbe::Obey()
{
    QWidget* window = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        window = window == nullptr && top->isVisible() ? top : window;
    QFile file(commandFile_);
    if (window == nullptr || commandFile_.isEmpty() || !file.open(QIODevice::ReadOnly) ||
        !file.seek(commandsRead_))
        return;
    const QByteArray added = file.readAll();
    const int whole = added.lastIndexOf('\n') + 1; // a line still being written waits
    commandsRead_ += whole;
    for (const QByteArray& line : added.left(whole).split('\n')) {
        const QString command = QString::fromUtf8(line).trimmed();
        if (command == "key Escape") {
            // Where the keyboard would send it: the focused widget, which passes it on.
            QWidget* target = QApplication::focusWidget();
            target = target != nullptr && target->window() == window ? target : window;
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(target, &press);
            QApplication::sendEvent(target, &release);
        } else if (command.startsWith("click ")) {
            for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
                if (button->isVisible() && button->text() == command.mid(6)) {
                    button->click();
                    break;
                }
            }
        }
    }
}

bool WindowProbe::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Hide && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow())
        LookAt(static_cast<QWidget*>(watched));
    return false;
}

void WindowProbe::Look()
{
    // What a command does is seen at this very look.
    Obey();
    LookAt(nullptr);
}

void WindowProbe::LookAt(QWidget* hiding)
{
    QWidget* window = nullptr;
    QJsonObject now = Snapshot(&window, hiding);
    if (now == last_)
        return;
    QJsonObject seen = now;
    seen["t"] = static_cast<double>(clock_.elapsed());
    const int progress = now["progress"].toInt();
    QJsonObject withoutProgress = now;
    QJsonObject lastWithoutProgress = last_;
    withoutProgress.remove("progress");
    lastWithoutProgress.remove("progress");
    const bool textsChanged = withoutProgress != lastWithoutProgress;
    if (window != nullptr && !shotFolder_.isEmpty() &&
        (textsChanged || std::abs(progress - lastShotProgress_) >= kShotProgressStep)) {
        seen["shot"] = SaveShot(window);
        lastShotProgress_ = progress;
    }
    last_ = now;
    log_.write(QJsonDocument(seen).toJson(QJsonDocument::Compact) + "\n");
    log_.flush();
}

QObject* WindowProbePlugin::create(const QString& name, const QString&)
{
    const QString logFile = qEnvironmentVariable("ZENTA_PROBE_LOG");
    if (name.compare("zentaprobe", Qt::CaseInsensitive) != 0 || logFile.isEmpty())
        return nullptr;
    // No parent: Qt owns what a generic plugin creates and deletes it with the application.
    return new WindowProbe(logFile, qEnvironmentVariable("ZENTA_PROBE_SHOTS"),
                           qEnvironmentVariable("ZENTA_PROBE_COMMANDS"), nullptr);
}
