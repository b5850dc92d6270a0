// A status bar of panels with widths set by the program (not by a layout), each showing one
// line of text in a lowered frame. The last panel's text is clipped at the bar's right edge.
#pragma once

#include <QString>
#include <QWidget>

#include <vector>

namespace toolkit {

class TStatusBar : public QWidget {
    Q_OBJECT
public:
    TStatusBar(int panelCount, QWidget *parent = nullptr);

    int PanelCount() const { return static_cast<int>(panels_.size()); }
    // Out-of-range indexes are ignored (reads give an empty text and width 0).
    void SetPanelText(int index, const QString &text);
    QString PanelText(int index) const;
    void SetPanelWidth(int index, int width);
    int PanelWidth(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct Panel {
        QString text;
        int width = 50;
    };
    bool Valid(int index) const { return index >= 0 && index < PanelCount(); }
    std::vector<Panel> panels_;
};

} // namespace toolkit
