#include "ccommunicatorctrl.h"

CCommunicatorCtrl::CCommunicatorCtrl(QWidget *parent) : QMainWindow(parent) {}
