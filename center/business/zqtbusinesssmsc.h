#ifndef ZQTBUSINESSSMSC_H
#define ZQTBUSINESSSMSC_H

#include "zqtbusiness.h"

// The smart-screen application's module: purely table-driven by "SmSc.xml".
// Board events it recognises are addressed to the smart-screen application.
class ZQTbusinessSmSc : public ZQTbusiness
{
    Q_OBJECT
public:
    ZQTbusinessSmSc(DvScreen* screen, QObject* parent);

    void init() override;
    void Send(QJsonObject message) override;
    using ZQTbusiness::Send;
};

#endif // ZQTBUSINESSSMSC_H
