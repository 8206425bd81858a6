#pragma once

#include <QWidget>

class QGridLayout;
class QLabel;
class QVBoxLayout;

// Floating panel with four tool buttons. It hides itself as soon as another
// window becomes active, so a touch anywhere outside closes it.
class toolBox : public QWidget
{
    Q_OBJECT
public:
    explicit toolBox(QWidget *parent = nullptr);
    ~toolBox() override;

    static toolBox *getInstance();

    void showDialog(double x, double y, int position);

signals:
    void sigZoom(bool checked);
    void sigClock(bool checked);
    void sigCap(bool checked);
    void sigLite(bool checked);

public slots:
    void slotClose(bool checked);
    void slotLite(bool checked);

protected:
    bool event(QEvent *e) override;

private:
    static Qt::WindowFlags panelFlags();

    double m_scale = 1.0;
    QLabel *m_background = nullptr;
    QVBoxLayout *m_mainLayout = nullptr;
    QGridLayout *m_grid = nullptr;
    static toolBox *s_instance;
};
