// Reading the window probe's log into looks of the window, and what they showed, for the checks
// and the report.
#include "window_log.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

void WindowLog::Update()
{
    QFile file(QString::fromStdString(file_));
    if (!file.open(QIODevice::ReadOnly) || !file.seek(consumed_))
        return;
    const QByteArray fresh = file.readAll();
    // Only whole lines: the probe may be in the middle of one.
    const int end = fresh.lastIndexOf('\n');
    if (end < 0)
        return;
    consumed_ += end + 1;
    for (const QByteArray& line : fresh.left(end).split('\n'))
        Take(line);
}

void WindowLog::Take(const QByteArray& line)
{
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    if (object.contains("probe")) {
        loaded_ = true;
        return;
    }
    if (!object.contains("t"))
        return;
    WindowLook look;
    look.at = object["t"].toDouble() / 1000.0;
    look.title = object["title"].toString();
    for (const QJsonValue& label : object["labels"].toArray())
        look.labels << label.toString();
    for (const QJsonValue& value : object["buttons"].toArray()) {
        const QJsonObject button = value.toObject();
        look.buttons << button["text"].toString() +
                            (button["enabled"].toBool() ? QString() : QString(" (disabled)"));
    }
    look.progress = object["progress"].toInt(-1);
    look.shot = object["shot"].toString();
    looks_.push_back(look);
}

bool WindowLog::EverShowed(const QString& prefix) const
{
    for (const WindowLook& look : looks_) {
        for (const QString& label : look.labels) {
            if (label.startsWith(prefix))
                return true;
        }
    }
    return false;
}

bool WindowLog::ShowsNow(const QString& text) const
{
    return !looks_.empty() && looks_.back().labels.contains(text);
}

std::vector<std::string> WindowLog::Story() const
{
    std::vector<std::string> lines;
    QString last;
    for (const WindowLook& look : looks_) {
        // Progress alone is left out: it would make a hundred lines per file.
        const QString texts = look.labels.join(" | ") + "  [" + look.buttons.join(", ") + "]";
        if (texts != last) {
            lines.push_back(QString("%1 s  %2").arg(look.at, 6, 'f', 1).arg(texts).toStdString());
            last = texts;
        }
    }
    return lines;
}
