// The file line: the path cut in the middle to the label's width, the counter beside it.
#include "ui/file_line_label.h"

#include <QPainter>
#include <QStyle>

namespace {

constexpr int kCounterGap = 12;
constexpr int kMinimumWidth = 120;

// The path cut to `room` pixels in the middle of its folders, never in its file name while the
// name fits by itself.
QString elidePath(const QString& path, const QFontMetrics& metrics, int room)
{
    if (metrics.horizontalAdvance(path) <= room)
        return path;
    const int split = qMax(path.lastIndexOf('/'), path.lastIndexOf('\\'));
    const QString name = path.mid(split + 1);
    const QString folders = path.left(split + 1);
    const QString ellipsis(QChar(0x2026));
    const int left = room - metrics.horizontalAdvance(name);
    if (split < 0 || left < metrics.horizontalAdvance(ellipsis))
        return metrics.elidedText(path.mid(split + 1), Qt::ElideMiddle, room);
    QString shown = metrics.elidedText(folders, Qt::ElideMiddle, left);
    if (shown.isEmpty())
        shown = ellipsis;
    return shown + name;
}

} // namespace

FileLineLabel::FileLineLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void FileLineLabel::setDescription(const QString& description)
{
    description_ = description;
    describe();
}

void FileLineLabel::setCounter(const QString& counter)
{
    if (counter == counter_)
        return;
    counter_ = counter;
    describe();
    updateGeometry();
    update();
}

void FileLineLabel::describe()
{
    setAccessibleDescription(counter_.isEmpty() ? description_ : description_ + '\n' + counter_);
}

int FileLineLabel::counterWidth() const
{
    return counter_.isEmpty() ? 0 : fontMetrics().horizontalAdvance(counter_) + kCounterGap;
}

QString FileLineLabel::displayedText() const
{
    const int room = qMax(0, contentsRect().width() - counterWidth());
    return elidePath(text(), fontMetrics(), room);
}

QSize FileLineLabel::sizeHint() const
{
    const QSize whole = QLabel::sizeHint();
    return {whole.width() + counterWidth(), whole.height()};
}

QSize FileLineLabel::minimumSizeHint() const
{
    const QSize whole = QLabel::minimumSizeHint();
    return {qMin(whole.width(), kMinimumWidth), whole.height()};
}

void FileLineLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect area = contentsRect();
    const QRect pathArea = area.adjusted(0, 0, -counterWidth(), 0);
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    style()->drawItemText(&painter, pathArea, flags, palette(), isEnabled(), displayedText(),
                          foregroundRole());
    if (!counter_.isEmpty())
        style()->drawItemText(&painter, area, Qt::AlignRight | Qt::AlignVCenter, palette(),
                              isEnabled(), counter_, foregroundRole());
}
