#pragma once

#include <QWidget>

// Tiny probe window shown for two seconds at start-up with the name of the
// last serial port found.
class VelaCenterTestDialog : public QWidget
{
    Q_OBJECT
public:
    explicit VelaCenterTestDialog(QWidget *parent = nullptr);
};
