#include "toolkit/StatusBar.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <qdrawutil.h>

#include <algorithm>

namespace toolkit {

namespace {
constexpr int TextMargin = 3;
}

TStatusBar::TStatusBar(int panelCount, QWidget *parent)
    : QWidget(parent), panels_(static_cast<size_t>(std::max(panelCount, 0))) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TStatusBar::SetPanelText(int index, const QString &text) {
    if (!Valid(index) || panels_[static_cast<size_t>(index)].text == text) return;
    panels_[static_cast<size_t>(index)].text = text;
    update();
}

QString TStatusBar::PanelText(int index) const {
    return Valid(index) ? panels_[static_cast<size_t>(index)].text : QString();
}

void TStatusBar::SetPanelWidth(int index, int width) {
    if (!Valid(index)) return;
    panels_[static_cast<size_t>(index)].width = std::max(width, 0);
    update();
}

int TStatusBar::PanelWidth(int index) const {
    return Valid(index) ? panels_[static_cast<size_t>(index)].width : 0;
}

QSize TStatusBar::sizeHint() const { return {200, fontMetrics().height() + 2 * TextMargin + 2}; }

QSize TStatusBar::minimumSizeHint() const { return {0, sizeHint().height()}; }

void TStatusBar::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    int left = 0;
    for (const Panel &panel : panels_) {
        if (left >= width()) break;
        const QRect box(left, 1, std::min(panel.width, width() - left) - 2, height() - 2);
        qDrawShadePanel(&painter, box, palette(), true, 1);
        const QRect textBox = box.adjusted(TextMargin, 1, -TextMargin, -1);
        const QString shown =
            fontMetrics().elidedText(panel.text, Qt::ElideRight, std::max(textBox.width(), 0));
        painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
        left += panel.width;
    }
}

} // namespace toolkit
