// The sentence line: word wrap that may also break a word too long for the line.
#include "ui/sentence_label.h"

#include <QPainter>
#include <QTextLayout>
#include <QtMath>

namespace {

constexpr int kMinimumChars = 12; // the narrowest the line asks to be, in average characters

} // namespace

SentenceLabel::SentenceLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

int SentenceLabel::layOut(QTextLayout& layout, int width) const
{
    QTextOption option(Qt::AlignLeft | Qt::AlignTop);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setText(text());
    layout.setFont(font());
    layout.setTextOption(option);
    layout.beginLayout();
    qreal height = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(qMax(1, width));
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    return qCeil(height);
}

int SentenceLabel::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    QTextLayout layout;
    const int textHeight = text().isEmpty()
                               ? fontMetrics().height()
                               : layOut(layout, width - margins.left() - margins.right());
    return textHeight + margins.top() + margins.bottom();
}

QSize SentenceLabel::sizeHint() const
{
    const int width = QLabel::sizeHint().width();
    return {width, heightForWidth(width)};
}

QSize SentenceLabel::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    const int width =
        fontMetrics().averageCharWidth() * kMinimumChars + margins.left() + margins.right();
    return {width, fontMetrics().height() + margins.top() + margins.bottom()};
}

void SentenceLabel::paintEvent(QPaintEvent*)
{
    if (text().isEmpty())
        return;
    const QRect area = contentsRect();
    QTextLayout layout;
    layOut(layout, area.width());
    QPainter painter(this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    layout.draw(&painter, area.topLeft());
}
