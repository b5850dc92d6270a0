#include "app/Frmzepabout.h"

#include "app/Frmzepmain.h"
#include "settings/Version.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QShowEvent>

namespace {

constexpr int ClientWidth = 292;
constexpr int ClientHeight = 128;
constexpr int IconWidth = 73;
constexpr int IconHeight = 65;
constexpr int TextLeft = 84;

const QString VersionCaption = QStringLiteral("Version ");
const QString CopyrightCaption = QStringLiteral("Copyright (c) ");

QLabel *AddLabel(QWidget *parent, const QString &text, int top) {
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->move(TextLeft, top);
    label->resize(ClientWidth - TextLeft - 8, label->sizeHint().height());
    return label;
}

} // namespace

QPixmap CorvixIcon() {
    QPixmap pixmap(IconWidth, IconHeight);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF chip(20, 17, 44, 40);
    painter.setPen(QPen(QColor(150, 150, 150), 2));
    for (int pin = 0; pin < 5; ++pin) { // pins on both sides of the package
        const qreal y = chip.top() + 6 + pin * 7.5;
        painter.drawLine(QPointF(chip.left() - 5, y), QPointF(chip.left(), y));
        painter.drawLine(QPointF(chip.right(), y), QPointF(chip.right() + 5, y));
    }
    painter.setPen(QPen(QColor(20, 20, 30), 1.5));
    painter.setBrush(QColor(40, 44, 56));
    painter.drawRoundedRect(chip, 3, 3);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(230, 150, 30));
    painter.drawEllipse(QPointF(chip.left() + 7, chip.top() + 7), 2.5, 2.5);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(20);
    painter.setFont(font);
    painter.setPen(QColor(240, 240, 240));
    painter.drawText(chip, Qt::AlignCenter, QStringLiteral("C"));
    // The arrow: a program going down into the chip's flash.
    painter.setBrush(QColor(40, 130, 220));
    QPainterPath arrow;
    arrow.moveTo(4, 2);
    arrow.lineTo(14, 2);
    arrow.lineTo(14, 14);
    arrow.lineTo(19, 14);
    arrow.lineTo(9, 26);
    arrow.lineTo(-1, 14);
    arrow.lineTo(4, 14);
    arrow.closeSubpath();
    painter.drawPath(arrow.translated(4, 3));
    return pixmap;
}

TfrmAbout::TfrmAbout(QWidget *owner) : QDialog(owner) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(ClientWidth, ClientHeight); // a dialog border: not resizable
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    imgCorvix = new QLabel(this);
    imgCorvix->setGeometry(0, 0, IconWidth, IconHeight);
    imgCorvix->setPixmap(CorvixIcon());

    txtAbout = new QLabel(QStringLiteral("Tarnwick"), this);
    QFont bold = txtAbout->font();
    bold.setBold(true);
    bold.setPixelSize(16);
    txtAbout->setFont(bold);
    txtAbout->move(TextLeft, 10);
    txtAbout->resize(ClientWidth - TextLeft - 8, txtAbout->sizeHint().height());

    txtVersion = AddLabel(this, VersionCaption, 34);
    txtCopyright = AddLabel(this, CopyrightCaption, 58);
    txtRights = AddLabel(this, QStringLiteral("Vexlon. All rights reserved."), 76);
    txtPurpose = AddLabel(this, QStringLiteral("For Corvix processor boards."), 94);

    Panel2 = new QWidget(this);
    Panel2->setGeometry(ClientWidth - 18, ClientHeight - 10, 18, 10);
}

void TfrmAbout::FormShow() {
    // Built from the design texts rather than appended: Qt also reports a show when a minimised
    // window comes back, and the version must never appear twice.
    txtVersion->setText(VersionCaption + QString::fromStdString(VersionText()));
    txtCopyright->setText(CopyrightCaption + QString::fromLatin1(VersionYear()));
    if (frmZEP != nullptr) frmZEP->CenterForm(this);
}

void TfrmAbout::FormKeyDown(int key) {
    if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) close();
}

void TfrmAbout::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TfrmAbout::keyPressEvent(QKeyEvent *event) {
    // Not QDialog's own handling: the box has no buttons, Enter and Escape both just close it.
    FormKeyDown(event->key());
}
