#pragma once

#include <QLabel>

// A one-line label for a path: when the path is wider than the label, leading folders give
// way to "..." so that the file name stays visible. The caption (text()) starts as DirName
// and is replaced by shorter forms while painting; a change of width starts again from
// DirName. '&' and markup in a path are drawn as they stand.
class TDirLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString DirName READ DirName WRITE SetDirName)
    Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
public:
    explicit TDirLabel(QWidget *Parent = nullptr);

    // The full path.
    QString DirName() const { return FDirName; }
    // A new path becomes the caption and is repainted; the same path again changes nothing.
    void SetDirName(const QString &Value);
    // When set, the label's colour is not filled in behind the text.
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool Value);

    // Independent of the caption, so that shortening never resizes the label in a layout.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *Event) override;
    void resizeEvent(QResizeEvent *Event) override;

private:
    QString FDirName;
    bool FTransparent = false;
};
