#include "zqtbusinesssmsc.h"

#include <QCoreApplication>

ZQTbusinessSmSc::ZQTbusinessSmSc(DvScreen* screen, QObject* parent)
    : ZQTbusiness(screen, parent)
{
}

void ZQTbusinessSmSc::init()
{
    setConfigPath(QCoreApplication::applicationDirPath() + QStringLiteral("/SmSc.xml"));
    ZQTbusiness::init();
}

void ZQTbusinessSmSc::Send(QJsonObject message)
{
    // A frame the table could not analyse gives an empty object; addressing it
    // would turn it into a message that carries nothing.
    if (message.isEmpty())
        return;
    message.insert(QStringLiteral("from"), QStringLiteral("ID_APP_VELACENTER"));
    message.insert(QStringLiteral("to"), QStringLiteral("ID_PC_VELASMARTSCREEN"));
    ZQTbusiness::Send(message);
}
