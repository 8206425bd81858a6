#ifndef CCOMMUNICATORCTRL_H
#define CCOMMUNICATORCTRL_H

#include <QMainWindow>

// Hidden main window: parent of the message dialog and the toolbox, so they
// are tool windows of the program rather than windows of their own.
class CCommunicatorCtrl : public QMainWindow
{
    Q_OBJECT
public:
    explicit CCommunicatorCtrl(QWidget *parent = nullptr);
};

#endif // CCOMMUNICATORCTRL_H
