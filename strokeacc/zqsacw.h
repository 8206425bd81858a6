#ifndef ZQSACW_H
#define ZQSACW_H

#include <QColor>
#include <QWidget>

// One corner square of the marker: a plain coloured window above everything,
// outside the window manager's control so it lands exactly where it is put.
class ZQSACW : public QWidget
{
    Q_OBJECT
public:
    explicit ZQSACW(QWidget *parent = nullptr);

    void showCW(QColor colour, int x, int y, int w, int h);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_colour = Qt::black;
};

#endif // ZQSACW_H
