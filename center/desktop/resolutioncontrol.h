#pragma once

#include <QObject>
#include <QPoint>
#include <QRectF>

// Screen queries shared by every widget of the control centre; all sizes of
// the toasts and panels are logical pixels multiplied by getScale().
class resolutionControl : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // 2.0 on 4K-wide desktops, 0.8 on 1024-wide ones, 1.0 in between.
    static double getScale();
    static QPoint getScreenCenter();
    static QRectF getResolution();
    static double getDPI();
};
