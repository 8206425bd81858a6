#ifndef WIDGET_H
#define WIDGET_H

#include <QWidget>

class StrokeAccExe;

// The agent's main window: a 1-pixel window off screen in normal use, a
// small test window with "-show". It owns the agent.
class Widget : public QWidget
{
    Q_OBJECT
public:
    explicit Widget(bool debugWindow, QWidget *parent = nullptr);
    ~Widget() override;

private slots:
    void on_pushButton_clicked();
    void on_pushButton_2_clicked();
    void on_pushButton_3_clicked();

private:
    StrokeAccExe *m_exe = nullptr;
};

#endif // WIDGET_H
