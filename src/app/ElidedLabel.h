// ElidedLabel: one line of text that never asks for more room than it is given: a text
// wider than the label is shown with its middle replaced by an ellipsis (the start and
// the end, e.g. the file name and the exposure of a "Saved: ..." text, stay readable),
// and the whole text is the tool tip. The status bar's pane 0 is one, so a long path can
// never widen the main window.
// UI thread only; nothing blocks.
#pragma once

#include <QString>
#include <QWidget>

class ElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    void SetText(const QString& text);
    QString Text() const { return text_; }
    // What is drawn at the label's present width.
    QString ShownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QString text_;
};
